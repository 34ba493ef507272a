#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Owns one file descriptor; closes it when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now and reports close's own error (which can carry a delayed write error).
    int close();

private:
    int fd_ = -1;
};

// Reads exactly len bytes at offset; throws WavError "<what>: ..." on failure or early end.
void readExactAt(int fd, std::uint64_t offset, void* buffer, std::size_t len, const char* what);
// Writes every byte, retrying short writes; throws WavError with the system's reason.
void writeAll(int fd, const void* buffer, std::size_t len, const std::string& what);
