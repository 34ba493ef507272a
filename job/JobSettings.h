#pragma once

#include "analysis/StallLimit.h"
#include "conversion/ConversionCommand.h"
#include "conversion/ExistingOutputs.h"
#include "conversion/LoudnessTags.h"

#include <optional>
#include <string>
#include <vector>

// What one Adjust Volume job is asked to do, taken once when it is made: a front end fills it
// from its controls or its arguments, and the job reads nothing else. Paths and names are raw
// file-system bytes.
struct JobSettings {
    // The files, in the order of the list; every row of the job is one of them.
    std::vector<std::string> sources;

    conversion_command::VolumeMode mode = conversion_command::VolumeMode::ChangePercent;
    int percent = 100;          // the percentage mode's factor in percent, 0..1000
    std::string gain = "0.00";  // the gain mode's dB as the converter reads them ("6", "-3.5")
    bool formatConverting = false;
    std::string format;         // the audio format to convert to, a format box entry ("*.MP3")
    std::string prefix;         // put in front of every output name, untrimmed
    std::string outputFolder;

    // The RMS modes' loudness: the target, the highest true peak allowed, and whether the
    // limiter holds the peaks (else a gain that would lift them over is lowered).
    double targetLufs = -14;
    double ceilingDbtp = -1;
    bool limiter = true;
    // The album, weighted and arithmetic modes: each folder's files form a set of their own
    // (set_groups::groupOf), with its own set loudness and gains; else the whole list is one.
    bool groupByFolder = false;

    // By row: written as a copy of its source's streams, its level left as it is (a plan found
    // it close enough). Shorter than the list, or empty: the rows past it are changed.
    std::vector<bool> leaveUnchanged;

    // What a row's output is: its audio adjusted, or (the RMS track and album modes) a copy of
    // every stream of its source carrying the loudness tags of its measurement, by row in
    // loudnessTags (LoudnessCheck::tagLevels; a row without one is refused).
    enum class Writing { AdjustedAudio, TagsOnly };
    Writing writing = Writing::AdjustedAudio;
    std::vector<std::optional<loudness_tags::Levels>> loudnessTags;

    // What becomes of a file already in the output folder under an output's name (one the job
    // did not write; never a source, which no choice replaces).
    existing_outputs::Choice existing = existing_outputs::Choice::KeepBoth;

    int filesAtOnce = 1;  // tool runs a stage keeps going at once, at least 1

    // A tool run or a measuring that prints nothing for this many seconds, plus half its file's
    // length, is taken for hung and killed (stall_limit; AURALON_STALL_SECONDS for the front
    // ends); 0 for no watchdog.
    double stallSeconds = stall_limit::kDefaultSeconds;

    // The scratch folder is cleared however the job ends once it has begun (a front end that
    // leaves nothing behind), not only when it completes (the window keeps the copies of a
    // cancelled or failed job until a later job's start).
    bool clearScratchAtEveryEnd = false;

    // Where the program keeps its tools and its scratch folder (program_folders gives them);
    // an empty scratch folder is one that could not be made.
    std::string converter;
    std::string normaliser;
    std::string meter;  // the measuring worker of the loudness check
    std::string scratchFolder;
};
