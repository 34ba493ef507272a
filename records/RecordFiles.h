#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The files of a records folder: each scan shard appends its records, one line each, to a
// file of its own ("scan-I-of-N.jsonl"), so that machines sharing the folder never write the
// same file. A line is appended by one write under a lock: a killed scan can leave at most
// its last line cut short, which the next run of that shard cuts away and a merge refuses.
namespace record_files {

// "<dir>/scan-<index + 1>-of-<count>.jsonl".
std::string shardFile(const std::string& dir, int index, int count);

// The ".jsonl" files directly in the folder, sorted by name; `error` set when it cannot be read.
std::vector<std::string> listed(const std::string& dir, std::string& error);

// Appends the text with one write; "" when done, else "Cannot write <path>: <reason>".
std::string append(const std::string& path, std::string_view text);

// Cuts a last line that has no line end away; "" when done or nothing to cut.
std::string cutUnfinishedLine(const std::string& path);

// Calls `take` with every line of the file (without its "\n") and whether it ended in one;
// stops when `take` returns false. "" when read whole, else "Cannot read <path>: <reason>".
std::string forEachLine(const std::string& path,
                        const std::function<bool(std::string_view line, bool ended)>& take);

}  // namespace record_files
