#pragma once

// The FFmpeg declarations the media layer is compiled against. Only the headers are used:
// the libraries themselves are opened at run time, and every call goes through the
// entry-point table (TFFEntryPoints.h).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavdevice/avdevice.h>
#include <libavdevice/version.h>
#include <libavfilter/version.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
#include <libavutil/time.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>
}
