#include "base/ProgramFolders.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace program_folders {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string withoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Makes the folder (with missing parents) and checks that files can be written into it.
bool usableFolder(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string programFolder()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return withoutTrailingSlash(std::filesystem::current_path().string());
    return withoutTrailingSlash(exe.parent_path().string());
}

std::string windowsDirectory()
{
    std::string dir = environment("AURALON_WINDOWS_DIR");
    return dir.empty() ? programFolder() : withoutTrailingSlash(dir);
}

std::string toolFolder() { return windowsDirectory() + "/qvx/"; }
std::string converterPath() { return toolFolder() + "client123"; }
std::string normalizerPath() { return toolFolder() + "client"; }
std::string meterPath() { return toolFolder() + "meter"; }

std::string system_dir()
{
    std::string dir = environment("AURALON_SYSTEM_DIR");
    if (dir.empty())
        dir = programFolder();
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string libraryFolderA() { return system_dir() + "qvx/ff"; }
std::string libraryFolderB() { return programFolder() + "/redist/ff"; }

std::string scratchFolder()
{
    std::string beside = programFolder() + "/tmp/";
    if (usableFolder(beside))
        return beside;
    std::string cache = environment("XDG_CACHE_HOME");
    if (cache.empty()) {
        std::string home = environment("HOME");
        if (home.empty())
            return {};
        cache = home + "/.cache";
    }
    std::string fallback = withoutTrailingSlash(cache) + "/auralon/tmp/";
    return usableFolder(fallback) ? fallback : std::string();
}

}  // namespace program_folders
