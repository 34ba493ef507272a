#include "job/StaleParts.h"

#include "conversion/OutputNames.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// File systems that other machines write to: a process id seen from here says nothing about
// their runs. (FUSE counts among them, since it may be any of them.)
bool sharedWithOtherMachines(const std::string& folder)
{
    constexpr long kShared[] = {
        0x6969,      // NFS
        0x517B,      // SMB
        static_cast<long>(0xFF534D42),  // CIFS
        static_cast<long>(0xFE534D42),  // SMB2
        0x65735546,  // FUSE
        0x00C36400,  // Ceph
        0x5346414F,  // AFS
        0x73757245,  // Coda
        0x01021997,  // 9P
        0x01161970,  // GFS2
        0x7461636F,  // OCFS2
        0x0BD00BD0,  // Lustre
        0x47504653,  // GPFS
        0x19830326,  // BeeGFS
    };
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return true;  // unknown: nothing is removed
    const long type = static_cast<long>(info.f_type);
    return std::find(std::begin(kShared), std::end(kShared), type) != std::end(kShared);
}

bool processGone(long pid)
{
    return pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

namespace stale_parts {

std::size_t removeFrom(const std::string& folder)
{
    if (folder.empty() || sharedWithOtherMachines(folder))
        return 0;
    std::size_t removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        const std::optional<long> pid = output_names::partFileProcess(it->path().filename().string());
        struct stat entry {};
        if (!pid || !processGone(*pid) || ::lstat(path.c_str(), &entry) != 0 || !S_ISREG(entry.st_mode))
            continue;
        removed += ::unlink(path.c_str()) == 0;
    }
    return removed;
}

}  // namespace stale_parts
