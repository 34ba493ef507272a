#include "records/RecordFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace record_files {

namespace {

std::string failure(const char* action, const std::string& path, int error)
{
    return std::string(action) + " " + path + ": " + std::strerror(error);
}

// Closes the descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

std::string shardFile(const std::string& dir, int index, int count)
{
    return dir + "/scan-" + std::to_string(index + 1) + "-of-" + std::to_string(count) + ".jsonl";
}

std::vector<std::string> listed(const std::string& dir, std::string& error)
{
    std::vector<std::string> files;
    DIR* folder = ::opendir(dir.c_str());
    if (!folder) {
        error = failure("Cannot read", dir, errno);
        return files;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() > 6 && name.ends_with(".jsonl") && name[0] != '.')
            files.push_back(dir + "/" + name);
    }
    ::closedir(folder);
    std::sort(files.begin(), files.end());
    return files;
}

std::string append(const std::string& path, std::string_view text)
{
    const Descriptor file{::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)};
    if (file.fd < 0 || ::flock(file.fd, LOCK_EX) != 0)
        return failure("Cannot write", path, errno);
    const ssize_t written = ::write(file.fd, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size()))
        return failure("Cannot write", path, written < 0 ? errno : ENOSPC);
    return {};
}

std::string cutUnfinishedLine(const std::string& path)
{
    const Descriptor file{::open(path.c_str(), O_RDWR | O_CLOEXEC)};
    if (file.fd < 0)
        return errno == ENOENT ? std::string() : failure("Cannot open", path, errno);
    if (::flock(file.fd, LOCK_EX) != 0)
        return failure("Cannot lock", path, errno);
    struct stat facts {};
    if (::fstat(file.fd, &facts) != 0)
        return failure("Cannot read", path, errno);
    // Back from the end to the last line end, a block at a time.
    off_t keep = facts.st_size;
    char block[4096];
    while (keep > 0) {
        const off_t from = std::max<off_t>(0, keep - static_cast<off_t>(sizeof block));
        const ssize_t got = ::pread(file.fd, block, static_cast<std::size_t>(keep - from), from);
        if (got <= 0)
            return failure("Cannot read", path, got < 0 ? errno : EIO);
        const std::string_view read(block, static_cast<std::size_t>(got));
        if (const std::size_t newline = read.rfind('\n'); newline != std::string_view::npos) {
            keep = from + static_cast<off_t>(newline) + 1;
            break;
        }
        keep = from;
    }
    if (keep != facts.st_size && ::ftruncate(file.fd, keep) != 0)
        return failure("Cannot repair", path, errno);
    return {};
}

std::string forEachLine(const std::string& path, const std::function<bool(std::string_view, bool)>& take)
{
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        return failure("Cannot read", path, errno);
    std::string pending;
    std::vector<char> block(1 << 20);
    for (;;) {
        const ssize_t got = ::read(file.fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failure("Cannot read", path, errno);
        if (got == 0)
            break;
        std::string_view rest(block.data(), static_cast<std::size_t>(got));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
            bool more = true;
            if (pending.empty()) {
                more = take(rest.substr(0, end), true);
            } else {
                pending.append(rest.substr(0, end));
                more = take(pending, true);
                pending.clear();
            }
            if (!more)
                return {};
        }
        pending.append(rest);
    }
    if (!pending.empty())
        take(pending, false);
    return {};
}

}  // namespace record_files
