#pragma once

#include "MeasureLine.h"
#include "NormalizerMarkers.h"

#include <array>
#include <cstdint>
#include <optional>
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
// The converter's words when it could not finish its output; it still exits 0.
inline constexpr std::string_view kTrailerFailedMarker = "Error writing trailer of ";
inline constexpr std::string_view kCloseFailedMarker = "Error closing file ";
// The normaliser prints these from the same constants.
inline constexpr std::string_view kAdjustingMarker = normalizer_markers::kAdjusting;
inline constexpr std::string_view kNotAdjustingMarker = normalizer_markers::kNotAdjusting;

// The four normalisation modes of the normaliser, in the order of the main window.
enum class NormalizerMode {
    Singularly,         // each file on its own (track gain): no flag
    Collectively,       // the files as one album: "-b"
    WeightedAverage,    // to the duration-weighted mean: "-bv"
    ArithmeticAverage,  // to the arithmetic mean: "-m"
};

// "", "-b", "-bv" or "-m".
std::string_view normalizerFlag(NormalizerMode mode);

// The loudness targets offered in the Options dialog, the first one the default.
struct LoudnessTarget {
    std::string_view label;
    double lufs;
    double ceilingDbtp;  // the highest true peak allowed
};
inline constexpr std::array<LoudnessTarget, 5> kLoudnessTargets{{
    {"-14 LUFS (streaming)", -14, -1},
    {"-16 LUFS (podcasts)", -16, -1},
    {"-18 LUFS (ReplayGain 2.0)", -18, -1},
    {"-23 LUFS (EBU R128)", -23, -1},
    {"-24 LUFS (ATSC A/85)", -24, -2},
}};

// Lossy encoders add to the peaks of what they are given (some tenths of a dB at low bit
// rates): copies that become lossy outputs are held this far under the ceiling.
inline constexpr double kLossyMarginDb = 1.0;

// What the normaliser aims for; as constructed, what it does when given no option.
struct NormalizerLevels {
    LoudnessTarget target = kLoudnessTargets[0];
    bool limitPeaks = true;   // the limiter holds the peaks so that files reach their level
    bool lossyOutput = false;  // some output of the job is lossy: the ceiling gets the margin
};

// The normaliser's arguments: the mode flag (left out when it is empty), "--target=",
// "--ceiling=" and "--limiter=" from the levels where they differ from what the normaliser
// does unasked (so the default levels give the bare mode flag and pattern), then the
// pattern folder + "*.wav" as ONE
// argument, which the normaliser expands itself. The folder's letters are kept as they are
// (paths are case-sensitive), its backslashes, "*", "?", "[" and "]" each escaped with a
// backslash so that they match only themselves; a missing trailing "/" is added. An empty folder gives no
// pattern at all, so the normaliser refuses to run instead of touching files elsewhere.
std::vector<std::string> normalizerArgs(NormalizerMode mode, const NormalizerLevels& levels,
                                        const std::string& scratchFolder);
// The same for some of the copies only, normalised as a set of their own: each copy's path one
// pattern, escaped likewise so that it matches only itself.
std::vector<std::string> normalizerSetArgs(NormalizerMode mode, const NormalizerLevels& levels,
                                           const std::vector<std::string>& copies);

// Peak measurement of one source: -i <source> -af volumedetect -f null nul.
// With "-f null" nothing is written, so the output name "nul" never becomes a file.
std::vector<std::string> peakMeasurementArgs(const std::string& source);

// ---- Measuring a file for a loudness report ----
// The measuring worker (qvx/meter, started with no argument) decodes one audio stream of a file
// with the FFmpeg libraries, exactly as the converter's `-map 0:a:<n> -ac <channels> -ar <rate>
// -f s16le|f32le` gives it, and measures it with the normaliser's meters, in a process of its
// own so that a file that crashes a decoder fails only its own measuring. It reads requests on
// its standard input until the input ends and answers each with one line on its standard
// output: the normaliser's measuring line (measure_line), or kMeterFailedMarker, a tab and why
// (FFmpeg's or the system's words) when that file could not be measured.
inline constexpr std::string_view kMeasuredMarker = measure_line::kMarker;
inline constexpr std::string_view kMeterFailedMarker = "failed";

// 16-bit integers, as a 16-bit WAV copy holds them (lossy sources are decoded to it), or
// 32-bit floats, which hold every deeper integer copy exactly.
enum class RawSamples { S16, F32 };

struct MeasureInput {
    std::string source;             // absolute, so that no name reads as an option or protocol
    int audioStream = 0;            // counted among the file's audio streams
    int channels = 0;
    int sampleRate = 0;
    std::uint32_t channelMask = 0;  // speaker positions (WAVE_FORMAT_EXTENSIBLE bits); 0: usual order
    RawSamples samples = RawSamples::F32;
};

// One request: <audio stream><TAB><channels><TAB><rate><TAB><mask><TAB>s16|f32<TAB><source><NUL>,
// numbers in decimal. The source comes last and the record ends with NUL, as a file's name may
// hold any other byte (tabs and line breaks too).
std::string meterRequest(const MeasureInput& input);
// The input of one record, its NUL taken off; nothing for a malformed one (a field missing,
// a number out of range: 1 to 64 channels, 16 Hz to 2.8224 MHz; an empty or relative source,
// a NUL inside).
std::optional<MeasureInput> parseMeterRequest(std::string_view record);

}  // namespace tool_contracts
