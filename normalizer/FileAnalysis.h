#pragma once

#include "GainRules.h"
#include "LoudnessMeter.h"
#include "normalizer/WavLayout.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>

// What a file was when it was measured, so that the rewrite can tell whether anyone
// changed it in between.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    static FileIdentity of(const struct stat& st);
    bool operator==(const FileIdentity& other) const;
};

// The measuring pass over one file.
struct FileAnalysis {
    WavLayout layout;
    FileIdentity identity;
    gain_rules::Levels levels;
    std::unique_ptr<LoudnessMeter> loudnessMeter;  // kept for the joint loudness of -b
};

namespace file_analysis {

// A loudness meter for samples of this format, loudness only.
LoudnessMeter loudnessMeter(const WavFormat& format);

// Frames per read: about 64 Ki, fewer for wide frames, so that memory stays small.
std::size_t blockFrames(const WavFormat& format);

// Reads and measures the whole file; throws WavError.
FileAnalysis analyse(const std::string& path);

}  // namespace file_analysis
