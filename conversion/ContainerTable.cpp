#include "conversion/ContainerTable.h"

#include "conversion/EncoderTable.h"

#include <algorithm>
#include <string>

namespace container_table {

namespace {

using L = std::string_view;
constexpr L kEveryCodec[] = {"*"};
constexpr L kMp4Audio[] = {"aac", "alac"};

constexpr L kPcmLittleEndian[] = {"pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le"};
constexpr L kPcmBigEndian[] = {"pcm_s16be", "pcm_s24be", "pcm_s32be", "pcm_f32be"};
constexpr L kAac[] = {"aac"};
constexpr L kAc3[] = {"ac3"};
constexpr L kFlac[] = {"flac"};
constexpr L kLame[] = {"libmp3lame"};
constexpr L kMp2[] = {"mp2"};
constexpr L kOpus[] = {"libopus"};
constexpr L kVorbis[] = {"libvorbis"};
constexpr L kWma[] = {"wmav2"};

constexpr L kTextSubtitles[] = {"subrip", "ass", "ssa", "mov_text", "webvtt", "text"};
constexpr L kMatroskaSubtitles[] = {"subrip", "ass", "ssa", "webvtt", "text",
                                    "dvd_subtitle", "dvb_subtitle", "hdmv_pgs_subtitle"};
constexpr L kMovText[] = {"mov_text"};
constexpr L kWebVtt[] = {"webvtt"};
constexpr L kDvb[] = {"dvb_subtitle"};
constexpr L kDvd[] = {"dvd_subtitle"};

// RealVideo 1.0 takes whole macroblocks only.
constexpr int kMacroblock = 16;

constexpr bool Y = true;
constexpr bool N = false;
constexpr Pictures Cv = Pictures::Covers;
constexpr Pictures Tr = Pictures::Track;
constexpr Pictures No = Pictures::Lost;

const ContainerRow kRows[] = {
    // ext      audio codecs  encoders          audio  video  block        pictures
    //   subtitles            text subtitles  attachments  data
    {".wav",    {},           kPcmLittleEndian, 1,     0,     0,           No,
     {},                  "",             N,           N},
    {".mp3",    {},           kLame,            1,     0,     0,           Cv,
     {},                  "",             N,           N},
    {".wma",    {},           kWma,             kAny,  0,     0,           No,
     {},                  "",             N,           N},
    {".aac",    {},           kAac,             1,     0,     0,           No,
     {},                  "",             N,           N},
    {".ac3",    {},           kAc3,             1,     0,     0,           No,
     {},                  "",             N,           N},
    {".flac",   {},           kFlac,            1,     0,     0,           Cv,
     {},                  "",             N,           N},
    {".m4a",    kMp4Audio,    kAac,             kAny,  0,     0,           Cv,
     kMovText,            "mov_text",     N,           N},
    {".mka",    kEveryCodec,  kVorbis,          kAny,  0,     0,           Tr,
     kMatroskaSubtitles,  "srt",          Y,           N},
    {".mp2",    {},           kMp2,             1,     0,     0,           No,
     {},                  "",             N,           N},
    {".ogg",    {},           kVorbis,          kAny,  0,     0,           No,
     {},                  "",             N,           N},
    {".ra",     {},           kAc3,             1,     0,     0,           No,
     {},                  "",             N,           N},
    {".aif",    {},           kPcmBigEndian,    1,     0,     0,           No,
     {},                  "",             N,           N},
    {".aiff",   {},           kPcmBigEndian,    1,     0,     0,           No,
     {},                  "",             N,           N},
    {".aifc",   {},           kPcmBigEndian,    1,     0,     0,           No,
     {},                  "",             N,           N},
    {".au",     {},           kPcmBigEndian,    1,     0,     0,           No,
     {},                  "",             N,           N},
    {".opus",   {},           kOpus,            1,     0,     0,           No,
     {},                  "",             N,           N},
    // Video.
    {".avi",    {},           kLame,            kAny,  kAny,  0,           No,
     {},                  "",             N,           N},
    {".mpg",    {},           kMp2,             kAny,  kAny,  0,           No,
     kDvd,                "",             N,           N},
    {".mpeg",   {},           kMp2,             kAny,  kAny,  0,           No,
     kDvd,                "",             N,           N},
    {".wmv",    {},           kWma,             kAny,  kAny,  0,           No,
     {},                  "",             N,           N},
    {".asf",    {},           kWma,             kAny,  kAny,  0,           No,
     {},                  "",             N,           N},
    {".mp4",    kMp4Audio,    kAac,             kAny,  kAny,  0,           Cv,
     kMovText,            "mov_text",     N,           N},
    {".m4v",    kMp4Audio,    kAac,             kAny,  kAny,  0,           Cv,
     kMovText,            "mov_text",     N,           N},
    // These two drop a cover without a word.
    {".mov",    kMp4Audio,    kAac,             kAny,  kAny,  0,           No,
     kMovText,            "mov_text",     N,           N},
    {".3gp",    kMp4Audio,    kAac,             kAny,  kAny,  0,           No,
     kMovText,            "mov_text",     N,           N},
    {".rm",     {},           kAc3,             1,     1,     kMacroblock, No,
     {},                  "",             N,           N},
    {".flv",    {},           kAac,             kAny,  kAny,  0,           No,
     {},                  "",             N,           N},
    {".swf",    {},           kLame,            kAny,  kAny,  0,           No,
     {},                  "",             N,           N},
    // Covers become a video track.
    {".mkv",    kEveryCodec,  kVorbis,          kAny,  kAny,  0,           Tr,
     kMatroskaSubtitles,  "srt",          Y,           N},
    {".webm",   {},           kOpus,            kAny,  kAny,  0,           No,
     kWebVtt,             "webvtt",       N,           N},
    {".vob",    {},           kAc3,             kAny,  kAny,  0,           No,
     kDvd,                "",             N,           N},
    {".ts",     {},           kAac,             kAny,  kAny,  0,           No,
     kDvb,                "",             N,           N},
    {".mts",    {},           kAac,             kAny,  kAny,  0,           No,
     kDvb,                "",             N,           N},
    {".m2ts",   {},           kAac,             kAny,  kAny,  0,           No,
     kDvb,                "",             N,           N},
};

constexpr ContainerRow kUnknown{{}, {}, {}, kAny, kAny, 0, No, {}, "", N, N};

// Video containers the converter cannot write, and what it writes for them.
struct StandIn {
    L source;
    L written;
};
constexpr StandIn kStandIns[] = {{".rmvb", ".rm"}, {".h264", ".mkv"}};
constexpr L kVideoStandIn = ".avi";

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace

const ContainerRow& rowOf(std::string_view extension)
{
    const std::string lower = lowerAscii(extension);
    for (const ContainerRow& row : kRows)
        if (row.extension == lower)
            return row;
    return kUnknown;
}

std::span<const ContainerRow> rows() { return kRows; }

bool isTextSubtitle(std::string_view codec)
{
    return std::find(std::begin(kTextSubtitles), std::end(kTextSubtitles), codec) != std::end(kTextSubtitles);
}

std::string_view writtenInstead(std::string_view sourceExtension)
{
    const std::string lower = lowerAscii(sourceExtension);
    for (const StandIn& s : kStandIns)
        if (s.source == lower)
            return s.written;
    return kVideoStandIn;
}

bool writesLossless(std::string_view extension)
{
    const ContainerRow& row = rowOf(extension);
    return row.audioCodecs.empty() && !row.audioEncoders.empty() &&
           std::all_of(row.audioEncoders.begin(), row.audioEncoders.end(), encoder_table::isLossless);
}

}  // namespace container_table
