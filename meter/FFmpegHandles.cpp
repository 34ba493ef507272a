#include "meter/FFmpegHandles.h"

extern "C" {
#include <libavutil/error.h>
}

namespace ffmpeg_handles {

std::string failure(const std::string& action, int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return action + ": " + text;
}

}  // namespace ffmpeg_handles
