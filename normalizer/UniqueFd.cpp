#include "normalizer/UniqueFd.h"

#include "normalizer/WavError.h"

#include <cerrno>
#include <unistd.h>

UniqueFd::~UniqueFd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release()
{
    int fd = fd_;
    fd_ = -1;
    return fd;
}

int UniqueFd::close()
{
    if (fd_ < 0)
        return 0;
    int result = ::close(release());
    return result == 0 ? 0 : errno;
}

void readExactAt(int fd, std::uint64_t offset, void* buffer, std::size_t len, const char* what)
{
    auto* out = static_cast<unsigned char*>(buffer);
    while (len > 0) {
        ssize_t got = ::pread(fd, out, len, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw WavError(systemReason(std::string("cannot read ") + what, errno));
        }
        if (got == 0)
            throw WavError(std::string("truncated: the file ends inside the ") + what);
        out += got;
        len -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
}

void writeAll(int fd, const void* buffer, std::size_t len, const std::string& what)
{
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (len > 0) {
        ssize_t put = ::write(fd, in, len);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw WavError(systemReason("cannot write " + what, errno));
        }
        in += put;
        len -= static_cast<std::size_t>(put);
    }
}
