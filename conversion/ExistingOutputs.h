#pragma once

#include "conversion/FileIdentity.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Files already in the output folder under a name a job would write: what the user chose to do
// with them, and which rows would meet one. A job's outputs never land on a source or on one
// another (output_names); these are the other files a folder holds.
namespace existing_outputs {

enum class Choice {
    Fail,      // such rows are refused, the file left as it is
    KeepBoth,  // such rows are written under the next free name "name (1).ext", "name (2).ext", ...
    Replace,   // the file is replaced, by an atomic rename of the finished output
    Skip,      // such rows are not done
};

// "fail", "keep-both", "replace", "skip" (the command line's words), or nothing.
std::optional<Choice> parseChoice(std::string_view word);
std::string_view wordOf(Choice choice);

// The names of the entries of a folder, read once; empty when it cannot be read.
std::unordered_set<std::string> namesIn(const std::string& folder);

struct Clash {
    int row = 0;
    std::string output;  // the existing file the row's output would replace
};

// What a job over these sources would write over, its names decided as the job decides them
// (each planned name, or the first numbered variant that is no source and no earlier output of
// the job). One read of the output folder; a name is looked up only when the folder holds it.
std::vector<Clash> clashes(const std::vector<std::string>& sources, const std::string& outputFolder,
                           const std::string& prefix, bool formatConverting, std::string_view formatText);

// The first of "name (1).ext", "name (2).ext", ... that is none of `existing` (names in its
// folder) and free of the guarded names; empty when none is.
std::string keepBothName(const std::string& output, const std::unordered_set<std::string>& existing,
                         const file_identity::GuardedNames& guarded);

}  // namespace existing_outputs
