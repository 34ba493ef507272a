#pragma once

#include "conversion/FileIdentity.h"
#include "conversion/LoudnessTags.h"
#include "conversion/PeakGain.h"
#include "conversion/ProbeFacts.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The converter's argument vectors for writing one adjusted file, and the WAV copies of the
// RMS modes. Every element is one argument exactly as the converter receives it: paths with
// quotes, "$", newlines or a leading "-" arrive whole, and nothing is ever joined or split.
namespace conversion_command {

// The seven volume modes, one per mode button of the main window.
enum class VolumeMode {
    RmsSingularly,    // radio_singularly
    RmsCollectively,  // radio_collectively
    RmsWeighted,      // radio_weighted
    RmsArithmetic,    // radio_arithmetic
    PeakTrackGain,    // radio_peak_trackgain
    ChangePercent,    // radio_changepercent
    ChangeGain,       // radio_changegain
};

bool isRmsMode(VolumeMode mode);

// Everything the builder needs about one row of a job; the job fills it from its settings.
struct ConversionRequest {
    VolumeMode mode = VolumeMode::ChangePercent;
    std::string sourcePath;          // the row's caption
    int fileIndex = 0;               // the row's 0-based position
    std::optional<PeakGain> peakGain;  // the row's measured gain (peak mode); none: no change
    int percent = 100;               // spin_volumepercent (percentage mode)
    std::string gainText;            // edit_volumegain, as typed (gain mode)
    bool formatConverting = false;   // cbk_audioformatconverting
    std::string formatText;          // the selected cb_audioformat item, e.g. "*.MP3"
    std::string prefix;              // ed_prefix, untrimmed
    std::string outputFolder;        // the job's output folder
    std::string scratchFolder;       // program_folders::scratchFolder(): the WAV copies
    ProbeFacts probe;                // of the source, from probeFactsOf()
    // Names no output may take: every source of the job and every output planned before in
    // it, the source of this row among them. Looked up once by the job, since doing it per row
    // costs a long list time in the square of its length. Null: the source alone.
    const file_identity::GuardedNames* guarded = nullptr;
    // By source stream: the gain that brings a stream mixed down back to its own loudness, as
    // measured (see downmixMeasurement); a stream mixed down without one asks for measurement.
    std::map<int, double> downmixGains;
    // The output the row was given when it was built before (to measure first); "" for a free name.
    std::string outputFile;
    // The row is left as it is: every stream its container keeps is copied, nothing re-encoded
    // and no level changed, whatever the mode (its WAV copy, if any, is not used).
    bool unchanged = false;
    // Loudness tags only: the row is left as it is and carries the tags of these levels in its
    // container's form, earlier loudness tags dropped; none (not measured) refuses the row, as
    // does a container with no place for them.
    bool tagsOnly = false;
    std::optional<loudness_tags::Levels> tagLevels;
};

struct ConversionCommand {
    std::vector<std::string> args;  // without the converter's own path
    std::string outputFile;         // the finished file's absolute path
    std::string writePath;          // what the converter writes; see output_files::commitOutput
    std::string sourceFile;         // the source, absolute
    // For the row's tips: streams the output container cannot hold ("Left out: ..."), and
    // what changed in the audio to fit the format ("5.1(side) downmixed to stereo").
    std::string note;
    // When not empty: the converter's arguments of a run that measures the loudness of the
    // downmixes first; the command is to be built again with their gains.
    std::vector<std::string> measurement;
};

// Either a command, or the reason why the row is refused: the form shows the refusal and
// goes on with the next row.
struct ConversionResult {
    std::optional<ConversionCommand> command;
    std::string refusal;  // "Cannot convert <source>: <reason>" when command is empty
};

// Builds the conversion of one row:
//   -i <source> (RMS modes: -i <scratch>/<index>.wav -i <source>) -y -map_metadata 0:g
//   <each stream the output container takes: -map and its options> [RMS tags and chapters]
//   [removal of loudness tags] [loudness tags] [-af <filter> | -filter:<k> <filters>] <writePath>
// The output name never lands on a source of the job (compared as the file system does)
// nor on an earlier output of the job; it is "name (2).ext", "name (3).ext", ... instead.
// A source whose streams the probe could not read is refused: it cannot be written faithfully.
ConversionResult buildConversion(const ConversionRequest& request);

// What a run of the converter with the source as its first input adds to measure the
// loudness of every audio stream the conversion mixes down and has no gain for, and the
// downmix's sample peak: an output that writes nothing, "-map 0:<n> -filter:<k>
// ebur128@src<n>=...,<downmix>,ebur128@mix<n>=...:peak=sample ... -f null nul". Empty when no
// stream is to be measured.
std::vector<std::string> downmixMeasurement(const ConversionRequest& request);

// The gains of the streams measured so, from the integrated loudness that the meters reported
// by name ("src1" -> -20.3, "mix1" -> -21.8 gives stream 1 a gain of 1.5 dB). Given the Peak
// mode's gain, a gain is at most what keeps the downmix's sample peak (by the same names) at
// full scale after both.
std::map<int, double> downmixGains(const std::map<std::string, double>& integrated,
                                   const std::map<std::string, double>& samplePeaks = {},
                                   std::optional<double> peakGainDb = std::nullopt);

// The normaliser is to measure and limit what is written: in the RMS modes a first audio stream
// the format mixes down goes into the WAV copy mixed down and brought back to its own loudness
// ("pan=...,volume=<gain>dB", as the conversion would have done it), and the conversion writes
// it without mixing it again. "" when the copy keeps the source's channels; none while the
// downmix's gain is not known (downmixMeasurement measures it).
std::optional<std::string> copyDownmix(const ConversionRequest& request);

// The WAV copy of row `fileIndex`: scratchFolder + <index> + ".wav".
std::string wavCopyPath(const std::string& scratchFolder, int fileIndex);

// The PCM encoder of a stream's WAV copy: the source's depth, 16-bit for lossy sources.
std::string wavCopyEncoder(const TStreamFacts& stream);

// Extraction of the source's first audio stream into its WAV copy:
//   -i <source> -y -map_metadata 0:g -map 0:a:0 [-c:a <PCM of the source's depth>] <wavPath>
// or, with a `downmix` (copyDownmix), [-af <downmix> -c:a pcm_f32le] in place of the PCM.
std::vector<std::string> wavExtractionArgs(const std::string& sourcePath,
                                           const std::string& wavPath,
                                           const ProbeFacts& probe = {},
                                           const std::string& downmix = {});

// A percentage as the volume factor: percent / 100, shortest decimal form with "."
// (0 -> "0", 5 -> "0.05", 150 -> "1.5", 1000 -> "10").
std::string volumeFactorText(int percent);

// True for a decimal number the volume filter reads: optional sign, digits with at most
// one ".", optional exponent; at least one digit, no blanks, finite.
bool isPlainNumber(std::string_view text);

}  // namespace conversion_command
