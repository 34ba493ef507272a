#pragma once

#include <mutex>
#include <string>

// Prints whole lines from many threads: each line goes out in one write under one
// mutex, so that lines never interleave and each reaches a pipe at once.
class LineWriter {
public:
    LineWriter(int outFd, int errFd) : outFd_(outFd), errFd_(errFd) {}

    void out(const std::string& line) { write(outFd_, line); }
    void err(const std::string& line) { write(errFd_, line); }

private:
    void write(int fd, std::string line);

    int outFd_;
    int errFd_;
    std::mutex mutex_;
};
