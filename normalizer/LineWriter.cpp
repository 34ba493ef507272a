#include "normalizer/LineWriter.h"

#include <cerrno>
#include <unistd.h>

void LineWriter::write(int fd, std::string line)
{
    line += '\n';
    std::lock_guard lock(mutex_);
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t put = ::write(fd, p, left);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;  // nobody is reading any more; the files still get processed
        p += put;
        left -= static_cast<std::size_t>(put);
    }
}
