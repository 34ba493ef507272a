#include "media/TFFLoader.h"

#include "media/TFFEntryPoints.h"
#include "media/TFFLoaderError.h"
#include "media/TFFLogger.h"
#include "media/TScopedDirectory.h"

#include <dlfcn.h>
#include <sys/stat.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstdlib>

namespace {

struct LibraryItem {
    TLibraryIndex index;
    const char* baseName;
    bool noFolder;      // never looked for in the library folder
    int majorVersion;   // -1 for none
};

// Majors of the headers this program is compiled against: a library of another major
// has another ABI and another file name.
constexpr LibraryItem kLibraries[kLibraryCount] = {
    {TLibraryIndex::avcodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR},
    {TLibraryIndex::avdevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR},
    {TLibraryIndex::avfilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR},
    {TLibraryIndex::avformat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR},
    {TLibraryIndex::avutil, "avutil", false, LIBAVUTIL_VERSION_MAJOR},
    {TLibraryIndex::swresample, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR},
    {TLibraryIndex::swscale, "swscale", false, LIBSWSCALE_VERSION_MAJOR},
    {TLibraryIndex::libc, "c", true, 6},
};

constexpr std::size_t slot(TLibraryIndex index) { return static_cast<std::size_t>(index); }

bool contains(TLibrarySet set, TLibraryIndex index) { return (set & librarySetOf(index)) != 0; }

constexpr TLibraryIndex indexAt(int position) { return static_cast<TLibraryIndex>(position); }

std::string withTrailingSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::string upperCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool isRegularFile(const std::string& path)
{
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0 && S_ISREG(entry.st_mode);
}

// The folder goes in front of PATH once for the rest of the process, so that anything
// looked up through PATH later finds the folder's files first.
void putOnSearchPath(const std::string& folder)
{
    const char* current = std::getenv("PATH");
    std::string path = current ? current : "";
    if (upperCased(path).find(upperCased(folder)) != std::string::npos)
        return;
    // An empty PATH gets the folder alone: a trailing ":" would add the current directory.
    std::string updated = path.empty() ? folder : folder + ":" + path;
    ::setenv("PATH", updated.c_str(), 1);
}

void* openModule(const std::string& name, std::string& error)
{
#if defined(__SANITIZE_ADDRESS__)
    // What the constructors of the libraries (and of their dependencies) allocate belongs to
    // them and is lost by design when they are unloaded; it is not the program's to free.
    __lsan::ScopedDisabler librariesOwnTheirStartup;
    // The leak scan at exit walks each thread's thread-local blocks; one left behind by a
    // library unloaded earlier points at freed memory and crashes the scan. Kept mapped instead.
    constexpr int kKeepMapped = RTLD_NODELETE;
#else
    constexpr int kKeepMapped = 0;
#endif
    void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | kKeepMapped);
    if (!module) {
        const char* reason = ::dlerror();
        error = reason ? reason : "unknown error";
    }
    return module;
}

// Prefers folder + name when that file exists; otherwise the name alone goes through the
// system's default search, so a library missing from the folder can still be found.
void* loadFolderLibrary(const std::string& folder, const std::string& name, std::string& error)
{
    if (!folder.empty()) {
        const std::string dir = withTrailingSlash(folder);
        if (isRegularFile(dir + name)) {
            TScopedDirectory inFolder(dir);
            putOnSearchPath(dir);
            return openModule(dir + name, error);
        }
    }
    return openModule(name, error);
}

}  // namespace

TFFLoader& TFFLoader::Instance()
{
    static TFFLoader loader;
    return loader;
}

TFFLoader::TFFLoader()
{
    // The logger must outlive the loader: FFmpeg may still log while it is unloaded.
    TFFLogger::Instance();
    // FFmpeg's code expects every floating-point exception masked.
    std::feholdexcept(&savedFloatingPoint_);
}

TFFLoader::~TFFLoader()
{
    std::fesetenv(&savedFloatingPoint_);
    UnloadLibraries(all_libraries);
}

const char* TFFLoader::LibraryBaseName(TLibraryIndex index)
{
    return kLibraries[slot(index)].baseName;
}

std::string TFFLoader::LibraryFileName(TLibraryIndex index) const
{
    const std::string& override = status_[slot(index)].fileNameOverride;
    if (!override.empty())
        return override;
    const LibraryItem& item = kLibraries[slot(index)];
    std::string name = std::string("lib") + item.baseName + ".so";
    if (item.majorVersion >= 0)
        name.append(".").append(std::to_string(item.majorVersion));
    return name;
}

void TFFLoader::SetLibraryFileName(TLibraryIndex index, const std::string& fileName)
{
    status_[slot(index)].fileNameOverride = fileName;
}

bool TFFLoader::LoadLibraryItem(TLibraryIndex index)
{
    LibraryStatus& status = status_[slot(index)];
    if (!status.module) {
        std::string name = LibraryFileName(index);
        std::string dir;
        if (auto slash = name.rfind('/'); slash != std::string::npos) {
            dir = name.substr(0, slash + 1);
            name.erase(0, slash + 1);
        } else if (!libraryPath_.empty() && !kLibraries[slot(index)].noFolder) {
            dir = withTrailingSlash(libraryPath_);
        }
        std::string error;
        status.module = loadFolderLibrary(dir, name, error);
        if (!status.module) {
            lastLoadError_ = "Load library " + dir + name + " error: " + error;
            return false;
        }
    }
    if (!status.bound) {
        try {
            BindLibrary(index);
            status.bound = true;
        } catch (const TFFLoaderError& e) {
            lastLoadError_ = e.what();
        }
    }
    if (!status.bound) {
        UnloadLibraryItem(index);
        return false;
    }
    RunLoadedHook(index);
    return true;
}

void TFFLoader::BindLibrary(TLibraryIndex index)
{
    FF.Bind(index, status_[slot(index)].module, LibraryFileName(index));
    switch (index) {
    case TLibraryIndex::avdevice:
        FF.avdevice_register_all();
        break;
    case TLibraryIndex::avformat:
        FF.avformat_network_init();
        break;
    default:
        break;
    }
}

// Runs on every load that finds the library bound, so a repeated load installs again.
void TFFLoader::RunLoadedHook(TLibraryIndex index)
{
    if (index == TLibraryIndex::avutil) {
        FF.av_log_set_callback(&TFFLogger::Callback);
        FF.av_log_set_level(TFFLogger::Instance().Level());
    }
}

void TFFLoader::UnloadLibraryItem(TLibraryIndex index)
{
    LibraryStatus& status = status_[slot(index)];
    if (status.bound) {
        // Undo what binding and the hook set up inside the library before it goes.
        if (index == TLibraryIndex::avformat)
            FF.avformat_network_deinit();
        if (index == TLibraryIndex::avutil)
            FF.av_log_set_callback(FF.av_log_default_callback);
        status.bound = false;
    }
    // Also after a failed bind, which may have filled part of the slots.
    FF.Unbind(index);
    if (status.module) {
        ::dlclose(status.module);
        status.module = nullptr;
    }
}

bool TFFLoader::LoadLibraries(TLibrarySet set)
{
    assert(set != 0);
    for (int i = 0; i < kLibraryCount; ++i) {
        if (contains(set, indexAt(i)) && !LoadLibraryItem(indexAt(i))) {
            UnloadLibraries(set);
            return false;
        }
    }
    return true;
}

void TFFLoader::UnloadLibraries(TLibrarySet set)
{
    assert(set != 0);
    for (int i = 0; i < kLibraryCount; ++i)
        if (contains(set, indexAt(i)))
            UnloadLibraryItem(indexAt(i));
}

bool TFFLoader::IsLibraryLoaded(TLibraryIndex index) const
{
    const LibraryStatus& status = status_[slot(index)];
    return status.module != nullptr && status.bound;
}

bool TFFLoader::LibrariesLoaded(TLibrarySet set) const
{
    assert(set != 0);
    for (int i = 0; i < kLibraryCount; ++i)
        if (contains(set, indexAt(i)) && !IsLibraryLoaded(indexAt(i)))
            return false;
    return true;
}

void TFFLoader::CheckLibraries(TLibrarySet set) const
{
    for (int i = 0; i < kLibraryCount; ++i)
        if (contains(set, indexAt(i)) && !IsLibraryLoaded(indexAt(i)))
            throw TFFLoaderError(std::string("Library ") + LibraryBaseName(indexAt(i)) +
                                 " not loaded.");
}
