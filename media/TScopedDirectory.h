#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

// Makes a folder the current directory for its lifetime and goes back afterwards, whatever
// happens in between. The way back is kept as an open descriptor, so it works even when the
// old directory's name is too long or no longer reachable by name.
class TScopedDirectory {
public:
    explicit TScopedDirectory(const std::string& folder)
        : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        // Without a way back the directory is left alone.
        if (previous_ >= 0 && ::chdir(folder.c_str()) != 0) {
            ::close(previous_);
            previous_ = -1;
        }
    }
    ~TScopedDirectory()
    {
        if (previous_ < 0)
            return;
        [[maybe_unused]] int ignored = ::fchdir(previous_);
        ::close(previous_);
    }
    TScopedDirectory(const TScopedDirectory&) = delete;
    TScopedDirectory& operator=(const TScopedDirectory&) = delete;

private:
    int previous_;
};
