#pragma once

#include "Measurement.h"
#include "report/LoudnessPlan.h"
#include "report/Verification.h"

#include <optional>
#include <string>
#include <vector>

// Everything a loudness report tells: each file's measurement and plan, and after a job its
// output's measurement and verdict; the sets' loudness for the modes that have one.
struct LoudnessReport {
    struct Row {
        std::string file;
        std::optional<Measurement> before;
        loudness_plan::Row plan;
        std::optional<Measurement> after;
        std::optional<verification::Verdict> verdict;  // none before a job, or when its row failed
        bool leftUnchanged = false;                    // written as a copy of its source
        std::string tagsWritten;  // written as a copy carrying these loudness tags ("KEY=value; ...")
        // A row whose first output missed is written once more with the correction measured
        // (attempts 2): its first output's figures and verdict; redoError says why the second
        // writing failed, when it did (the first output then stays, judged as it was).
        int attempts = 1;
        std::optional<Measurement> firstAfter;
        std::optional<verification::Verdict> firstVerdict;
        std::string redoError;
        std::string error;  // why the file or its output could not be measured or written
        // A file already under its output's name, and what the job does with it ("keep-both",
        // "replace", "skip", "fail"); empty when the name is free.
        std::string existingFile;
        std::string existing;
    };

    loudness_plan::Settings settings;
    std::vector<loudness_plan::Set> sets;  // one per folder when each folder is a set
    std::vector<Row> rows;
};
