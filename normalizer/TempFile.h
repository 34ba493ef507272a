#pragma once

#include "normalizer/UniqueFd.h"

#include <string>

// A new file beside `target`, named ".<name>.XXXXXX.part" so that no "*.wav" pattern
// takes it. Removed when it goes out of scope unless it has replaced the target.
class TempFile {
public:
    explicit TempFile(const std::string& target);  // throws WavError
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }

    // Flushes to the disk, closes and renames over the target; throws WavError.
    void replaceTarget();

private:
    std::string target_;
    std::string path_;
    UniqueFd fd_;
    bool committed_ = false;
};
