#pragma once

#include "Measurement.h"
#include "conversion/ConversionCommand.h"
#include "conversion/ProbeFacts.h"

#include <optional>
#include <string>
#include <vector>

// What a job will do to each file, decided from the files' measurements before anything is
// written, by the rules the job itself follows: the RMS modes by the normaliser's own gain rules
// (gain_rules::decide over the same levels, the album's loudness gated over the files' blocks
// together), Peak mode by the converter's peak report and the rounding the job applies to it,
// Percentage and Gain by the asked gain.
namespace loudness_plan {

// What the plan depends on of a job's settings; a front end fills it from the job's.
struct Settings {
    conversion_command::VolumeMode mode = conversion_command::VolumeMode::RmsSingularly;
    int percent = 100;         // Percentage mode, 0..1000
    double gainDb = 0;         // Gain mode
    double targetLufs = -14;   // the RMS modes' target, ceiling and limiter
    double ceilingDbtp = -1;
    bool limiter = true;
    bool lossyOutput = false;  // some output is lossy: the normaliser is given a lower ceiling
};

// One file as the plan takes it.
struct File {
    std::optional<Measurement> measurement;  // none: it could not be measured
    // What requantising its WAV copy can add to a peak (gain_rules::quantisationHeadroom of the
    // copy's bits): the normaliser's ceiling leaves room for it.
    double quantisationHeadroom = 0;
    // Its output is mixed down: the level correction that keeps the mix as loud as the source
    // (conversion_command::downmixGains), when measured.
    std::optional<double> downmixCorrectionDb;
};

struct Row {
    bool planned = false;   // the mode gives this file a gain (no: an RMS or Peak file not measured)
    bool changes = false;   // the job changes its level (RMS modes: the normaliser rewrites it)
    double gainDb = 0;      // the loudness change the mode brings (-infinity: 0 %); 0 when unchanged
    // What the output should measure: the level the mode promises. None when the source's is
    // unknown (not measured, silent, too short).
    std::optional<double> loudnessAfterLufs;
    // The true peak at the gain, before any limiting.
    std::optional<double> truePeakAfterDbtp;
    bool peakLimited = false;  // limiter off: the gain was lowered until the peaks fit
    bool limited = false;      // the limiter will hold its peaks ...
    double limitedByDb = 0;    // ... taking them down by about this much at most
    // Shown beside the gain, not part of it: the correction only brings the mix back to the
    // source's loudness, so the promise is the same with or without it.
    std::optional<double> downmixCorrectionDb;
    std::string note;  // why the level stays as it is, or why there is no plan
};

// The loudness of a set of files. Album: the files' joint loudness; Weighted and Arithmetic
// Average: the level every file of the set is brought to.
struct Set {
    std::string group;  // set_groups::groupOf its files: their folder, or "" for the whole list
    double loudnessLufs = 0;
};

struct Plan {
    std::vector<Row> rows;  // one per file, in order
    // In the order of their first files; none in the other modes or for a set with no loudness.
    std::vector<Set> sets;
    double ceilingDbtp = 0;  // the ceiling the normaliser holds (lowered for lossy outputs)
};

// `groups` names each file's group (set_groups::groupOf); each group is planned as a list of
// its own, as the job normalises each group's copies in a run of their own. Empty: the whole
// list is one group.
Plan make(const Settings& settings, const std::vector<File>& files, const std::vector<std::string>& groups = {});

// File::quantisationHeadroom of a source: that of the WAV copy of its first audio stream.
double copyHeadroom(const ProbeFacts& source);

// Peak mode's gain for a file of this sample peak: the converter reports the peak of 16-bit
// samples to one decimal, and the job applies what PeakGain makes of that figure. Within
// 0.0003 dB of the report's figure before its rounding, so equal to the job's gain but where the
// peak lies that close to a rounding step.
double peakModeGainDb(double samplePeakDbfs);

}  // namespace loudness_plan
