#pragma once

#include <string>

// An exclusive hold on the scratch folder for the length of one job, so that two running
// instances never mix (or delete) each other's WAV copies. The lock is flock() on the folder
// itself: no lock file is left behind for the end-of-job clearing to trip over, and the
// system drops the lock when the process dies.
class ScratchLock {
public:
    ScratchLock() = default;
    ~ScratchLock();
    ScratchLock(const ScratchLock&) = delete;
    ScratchLock& operator=(const ScratchLock&) = delete;

    // Takes the lock on `folder` without waiting. False when another holder has it or the
    // folder cannot be opened; error() then says so, naming the folder. Taking it again while
    // held is a no-op for the same folder.
    bool acquire(const std::string& folder);
    void release();

    bool held() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string folder_;
    std::string error_;
};
