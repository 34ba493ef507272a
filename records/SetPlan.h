#pragma once

#include "Measurement.h"
#include "report/LoudnessPlan.h"
#include "report/LoudnessReport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A job over many machines, decided once: the records of every scanned file merged into one
// plan, each row with its gain and its output's name, written as a file that every machine
// applying a shard reads.
//
// The plan file is JSON Lines: a first line {"kind":"plan", ...settings}, a line
// {"kind":"row", ...} per file in the order of their keys, and a line {"kind":"set", "group",
// "loudness_lufs"} per group that has a set loudness.
namespace set_plan {

// What the plan is made with; the same for every shard that applies it.
struct Settings {
    loudness_plan::Settings plan;
    std::string gainText = "0.00";  // Gain mode's gain as the job takes it
    bool formatConverting = false;
    std::string format = "*.WAV";   // a format box entry
    std::string prefix;
    std::string outputFolder;       // absolute
    std::string root;               // absolute: the keys are relative to it; for merge() empty
                                    // takes the records' own
    bool groupByFolder = false;     // each folder an album (else the whole set is one)
    std::string version;            // of the program; records of another are refused
};

struct Row {
    std::string key;
    std::string source;  // root + "/" + key
    std::int64_t size = -1;   // the source's when scanned; -1 when the plan does not say
    std::int64_t mtimeNs = 0;
    std::string output;  // decided once, unique in the plan; empty when the row has none
    std::optional<Measurement> before;  // without its blocks
    loudness_plan::Row plan;
    std::string error;   // why the file could not be scanned
    double headroom = 0;  // loudness_plan::File::quantisationHeadroom of the source
};

// A group's set loudness.
using Set = loudness_plan::Set;

struct Plan {
    Settings settings;
    std::vector<Row> rows;
    std::vector<Set> sets;
};

struct Merged {
    std::optional<Plan> plan;
    // Every record refused, "<file>:<line>: <key>: <why>"; when any is, there is no plan.
    std::vector<std::string> refused;
    std::string error;  // a records file that could not be read
    // Without a root in the settings: the records' roots when they differ, each as
    // "<file>:<line>: records of the root <root>" of its first record; when there are any,
    // there is no plan.
    std::vector<std::string> roots;
};

// Reads every record of the folder's files, streamed, and plans them: the set loudness of each
// group gated over the sum of its files' blocks, so that it equals one machine's. Without a
// root in the settings, the keys are taken as relative to the root the records name (to the
// current folder when none names one, as records made before they kept it).
Merged merge(const std::string& recordsFolder, const Settings& settings);

// The plan written as its file, whole or not at all ("" when written, else why not).
std::string write(const Plan& plan, const std::string& path);
// A plan file read back; nothing, with `error` naming the file and line, when it is damaged.
std::optional<Plan> read(const std::string& path, std::string& error);

// The file a shard records its applied rows in: "<plan>.applied-<I>-of-<N>.jsonl".
std::string appliedFile(const std::string& planPath, int index, int count);

// One row's end, as a line of such a file.
struct Applied {
    std::size_t row = 0;
    bool written = false;
    std::string reason;  // why it was not
};
std::string appliedLine(const Applied& applied);

// What every shard has recorded for the plan so far, by row; a row recorded twice is the last.
std::vector<std::optional<Applied>> readApplied(const std::string& planPath, std::size_t rows);

// The plan and its results as one report.
LoudnessReport report(const Plan& plan, const std::vector<std::optional<Applied>>& applied);

// The mode's name on the command line ("album"), and back.
std::string modeName(conversion_command::VolumeMode mode);
std::optional<conversion_command::VolumeMode> modeNamed(const std::string& name);

}  // namespace set_plan
