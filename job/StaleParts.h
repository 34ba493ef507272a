#pragma once

#include <cstddef>
#include <string>

// The hidden files a conversion writes before its output is put in place
// (output_names::partFilePath) outlive a program that was killed in the middle of one.
namespace stale_parts {

// Removes from `folder` itself (not below it) every such file whose process is gone. A file of
// any other name, one whose process lives (this program among them), and anything but a plain
// file stay; so does everything on a network file system, where another machine's live runs
// may write them. Returns how many were removed.
std::size_t removeFrom(const std::string& folder);

}  // namespace stale_parts
