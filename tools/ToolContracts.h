#pragma once

#include <string>
#include <string_view>
#include <vector>

// What the two external tools are given and what they print that the program relies on:
// the converter (qvx/client123, ffmpeg-compatible) and the loudness normaliser (qvx/client).
// Argument lists are vectors of single arguments; nothing is ever joined into one text.
namespace tool_contracts {

// Output markers, searched for within one complete line of tool output.
inline constexpr std::string_view kMaxVolumeMarker = "max_volume:";
inline constexpr std::string_view kSizeMarker = "size=";
inline constexpr std::string_view kTimeMarker = "time=";
inline constexpr std::string_view kBitrateMarker = "bitrate=";
// Capital E and the blank: "error" or "Error:" do not count.
inline constexpr std::string_view kErrorMarker = "Error ";
inline constexpr std::string_view kAdjustingMarker = "Applying adjustment of";
inline constexpr std::string_view kNotAdjustingMarker = "not adjusting...";

// Full paths of the tools in the tool folder (program_folders::toolFolder()).
std::string converterPath();
std::string normalizerPath();

// The four normalisation modes of the normaliser, in the order of the main window.
enum class NormalizerMode {
    Singularly,         // each file on its own (track gain): no flag
    Collectively,       // the files as one album: "-b"
    WeightedAverage,    // to the duration-weighted mean: "-bv"
    ArithmeticAverage,  // to the arithmetic mean: "-m"
};

// "", "-b", "-bv" or "-m".
std::string_view normalizerFlag(NormalizerMode mode);

// The normaliser's arguments: the mode flag (left out when it is empty), then the pattern
// folder + "*.wav" as ONE argument, which the normaliser expands itself. The folder's letters
// are kept as they are (paths are case-sensitive), its backslashes, "*", "?", "[" and "]" each
// escaped with a backslash so that they match only themselves; a missing trailing "/" is
// added. An empty folder gives no pattern at all, so the normaliser refuses to run instead of
// touching files elsewhere.
std::vector<std::string> normalizerArgs(NormalizerMode mode, const std::string& scratchFolder);

// Peak measurement of one source: -i <source> -af volumedetect -f null nul.
// With "-f null" nothing is written, so the output name "nul" never becomes a file.
std::vector<std::string> peakMeasurementArgs(const std::string& source);

}  // namespace tool_contracts
