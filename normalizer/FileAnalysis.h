#pragma once

#include "GainRules.h"
#include "LoudnessMeter.h"
#include "Measurement.h"
#include "normalizer/WavLayout.h"

#include <cstdint>
#include <memory>
#include <optional>
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
    std::optional<Measurement> report;             // as --measure gives it, when asked for
};

namespace file_analysis {

// A loudness meter for samples of this format, loudness only.
LoudnessMeter loudnessMeter(const WavFormat& format);

// Frames per read: SampleStreamMeter's blocks.
std::size_t blockFrames(const WavFormat& format);

// Reads and measures the whole file, with the figures of --measure too when `report`; throws
// WavError.
FileAnalysis analyse(const std::string& path, bool report = false);

}  // namespace file_analysis
