#include "analysis/ScratchLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

ScratchLock::~ScratchLock()
{
    release();
}

bool ScratchLock::acquire(const std::string& folder)
{
    if (held() && folder == folder_)
        return true;
    release();
    error_.clear();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = "Cannot open the scratch folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int reason = errno;
        ::close(fd);
        error_ = reason == EWOULDBLOCK
                     ? "The scratch folder " + folder +
                           " is in use by another running Auralon job. Try again when it has finished."
                     : "Cannot lock the scratch folder " + folder + ": " + std::strerror(reason);
        return false;
    }
    fd_ = fd;
    folder_ = folder;
    return true;
}

void ScratchLock::release()
{
    if (fd_ >= 0) {
        ::close(fd_);  // closing the only descriptor drops the lock
        fd_ = -1;
    }
    folder_.clear();
}
