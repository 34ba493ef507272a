#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The loudness tags that players apply on playback, written instead of changing the audio: how
// each output container carries them, and their values from a measurement.
namespace loudness_tags {

inline constexpr double kReplayGainReferenceLufs = -18;  // ReplayGain 2.0
inline constexpr double kR128ReferenceLufs = -23;        // Opus's R128 gain tags

// What a file's tags are made from: its own loudness and true peak, and the album's when the
// file belongs to one.
struct Levels {
    double trackLufs = 0;
    double trackPeakDbtp = 0;
    std::optional<double> albumLufs;
    std::optional<double> albumPeakDbtp;
};

struct Tag {
    std::string key;
    std::string value;
};

// Either the tags a file of that extension gets, or why it cannot carry them.
struct Tags {
    std::vector<Tag> tags;
    std::string refusal;
};

// By output extension in any letter case (".mp3"): ID3v2 TXXX frames, Vorbis comments and
// Matroska tags take the ReplayGain tags, Opus its R128 gains alone; other formats are refused.
Tags forContainer(std::string_view extension, const Levels& levels);

// Every key of a loudness tag an older tool may have left; the converter drops a key in any
// letter case.
std::span<const std::string_view> loudnessKeys();

// "-6.52 dB": the gain to the ReplayGain reference, in hundredths.
std::string replayGainText(double lufs);
// "0.988553": a true peak as a linear ratio.
std::string peakText(double dbtp);
// "-1434": the gain to the R128 reference as a signed Q7.8 number.
std::string r128Text(double lufs);

// "KEY=value; KEY=value", as a report shows what was written.
std::string summary(const std::vector<Tag>& tags);

}  // namespace loudness_tags
