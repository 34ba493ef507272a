#pragma once

#include <cstdint>
#include <limits>
#include <string>

// FFmpeg's marker for an absent time (AV_NOPTS_VALUE).
inline constexpr std::int64_t kAbsentTime = std::numeric_limits<std::int64_t>::min();

struct TRational32 {
    std::int32_t num = 0;
    std::int32_t den = 1;
};

// File-level facts of the open file; the defaults are the values with no file open.
struct TFileStreamInfo {
    std::int64_t StartTime = kAbsentTime;  // microseconds
    std::int64_t Duration = -1;            // microseconds, -1 when unknown
    bool DurationGuessed = false;          // worked out from the bit rate: a guess for VBR
    std::int32_t BitRate = -1;             // bits per second, 0 when the container gives none
    std::int32_t Year = -1;
    std::int32_t Track = -1;
    std::string Title, Author, Copyright, Comment, Album, Genre;
};

struct TAudioStreamInfo {
    std::string Language;
    std::string CodecName;
    std::int64_t StartTime = -1;    // stream time base
    std::int64_t StartTimeUs = -1;  // microseconds
    std::int64_t Duration = -1;
    std::int64_t DurationUs = -1;
    std::int32_t BitRate = -1;      // bits per second, 0 when not known
    std::int32_t Channels = -1;
    std::int32_t SampleRate = -1;
    std::int32_t SampleFormat = -1;
};

struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    std::int64_t StartTime = -1;
    std::int64_t StartTimeUs = -1;
    std::int64_t Duration = -1;
    std::int64_t DurationUs = -1;
    std::int32_t BitRate = -1;
    std::int32_t Height = -1;
    std::int32_t Width = -1;
    float SampleAspectRatio = -1.0f;
    float DisplayAspectRatio = -1.0f;
    TRational32 SampleAspectRational{0, 1};
    TRational32 DisplayAspectRational{0, 1};
    std::int32_t PixelFormat = -1;
    TRational32 FrameRate{0, 1};
};

enum class TStreamKind { Video, Audio, Subtitle, Attachment, Data };

// What the conversion needs to know of one stream to write it again faithfully.
struct TStreamFacts {
    TStreamKind Kind = TStreamKind::Data;
    std::string Codec;             // FFmpeg's codec name: "ac3", "pcm_s24le", "subrip", ...
    std::string Encoder;           // the encoder FFmpeg picks for that codec; "" when it has none
    std::string Disposition;       // "default+forced", ...; "0" for none
    bool Picture = false;          // an attached picture (a cover), not a video
    bool FloatSamples = false;     // decoded samples are floating point
    std::int32_t Bits = 0;         // significant bits per sample of lossless audio; 0 when unknown
    std::int32_t SampleRate = 0;
    std::int32_t Channels = 0;
    std::string ChannelLayout;     // FFmpeg's name ("5.1(side)", "stereo"); "" when the file gives none
    std::uint64_t ChannelMask = 0; // the channels' positions (AV_CH_* bits, in channel order); for a
                                   // file that gives none, the usual layout of its channel count
    std::int64_t BitRate = 0;      // bits per second; 0 when unknown
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};
