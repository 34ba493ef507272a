#include "analysis/ClearFolder.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace folder_cleanup {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Takes ownership of an open folder descriptor (closed with the handle, or here on failure).
DirHandle openFolder(int fd)
{
    if (fd < 0)
        return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir)
        ::close(fd);
    return DirHandle(dir);
}

std::vector<std::string> entryNames(DIR* dir)
{
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    return names;
}

// Works through descriptors relative to the open folder, so that a folder swapped for a link
// between the look and the descent is refused (O_NOFOLLOW) rather than followed.
std::size_t clearOpenFolder(DIR* dir, const std::function<void()>& afterEachEntry,
                            const std::vector<file_identity::FileId>& keep)
{
    const int dirFd = ::dirfd(dir);
    std::size_t deleted = 0;
    // Names first: deleting while reading a folder may skip entries.
    for (const std::string& name : entryNames(dir)) {
        struct stat info {};
        if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(info.st_mode)) {
                int fd = ::openat(dirFd, name.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (DirHandle sub = openFolder(fd))
                    deleted += clearOpenFolder(sub.get(), afterEachEntry, keep);
            } else if (std::find(keep.begin(), keep.end(),
                                 file_identity::FileId{info.st_dev, info.st_ino}) == keep.end()
                       && ::unlinkat(dirFd, name.c_str(), 0) == 0) {
                ++deleted;
            }
        }
        if (afterEachEntry)
            afterEachEntry();
    }
    return deleted;
}

}  // namespace

std::size_t clear_folder(const std::string& path, const std::function<void()>& afterEachEntry,
                         const std::vector<file_identity::FileId>& keep)
{
    if (path.empty())
        return 0;
    DirHandle dir = openFolder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir ? clearOpenFolder(dir.get(), afterEachEntry, keep) : 0;
}

}  // namespace folder_cleanup
