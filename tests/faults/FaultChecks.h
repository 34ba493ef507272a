#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace faulttest {

// Every plain file below `folder` (hidden ones too), by its path relative to the folder, with
// its bytes: taken before and after a job, it shows whether anything there was touched.
std::map<std::string, std::string> contentsOf(const std::filesystem::path& folder);

// The names below `folder` that are not the given kind of file: for a scratch folder, that
// is anything but the "<n>.wav" copies (a temporary file left behind, say).
std::string strayEntries(const std::filesystem::path& folder);

}  // namespace faulttest
