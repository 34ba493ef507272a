#pragma once

#include <limits>
#include <span>
#include <string_view>

// What each output container holds, one row per extension, as FFmpeg 5.1 writes it and reads
// it back: which streams it takes, how many, and its encoders for audio it does not take as it
// is. Codec and encoder names are FFmpeg's. Adding a container is adding a row.
namespace container_table {

inline constexpr int kAny = std::numeric_limits<int>::max();  // streams without a limit

// What becomes of a cover picture copied into the container.
enum class Pictures {
    Lost,    // it cannot hold one: the cover is left out
    Covers,  // it stays a cover
    Track,   // it is kept, but as a one-frame picture track (Matroska)
};

struct ContainerRow {
    std::string_view extension;  // lower case with its dot
    // Audio codecs it takes as they are from another container ("*": every one); from
    // itself it takes its own codecs anyway.
    std::span<const std::string_view> audioCodecs;
    // Its encoders for other audio, shallowest first: the first that keeps the source's depth
    // writes it, else the last. Empty: the converter's own choice.
    std::span<const std::string_view> audioEncoders;
    int audioStreams;
    int videoStreams;                 // 0: it holds no video
    int frameBlock;                   // its video encoder takes sizes in multiples of this; 0: any
    Pictures pictures;
    std::span<const std::string_view> subtitleCodecs;  // taken as they are
    std::string_view textSubtitles;   // the encoder that writes other text subtitles; "" none
    bool attachments;                 // fonts and other files
    bool dataStreams;
};

// The row of an extension in any letter case; for one without a row, what the converter takes
// by itself: any number of audio and video streams, nothing else.
const ContainerRow& rowOf(std::string_view extension);
std::span<const ContainerRow> rows();

// True for a subtitle codec that is text, which a container's text subtitle encoder rewrites.
bool isTextSubtitle(std::string_view codec);

// The container a video source is written in when its own is not kept (".rmvb" -> ".rm",
// ".h264" -> ".mkv", any other -> ".avi"); extensions in any letter case.
std::string_view writtenInstead(std::string_view sourceExtension);

// True when every audio stream written into the container is lossless whatever its source.
bool writesLossless(std::string_view extension);

}  // namespace container_table
