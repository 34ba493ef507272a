#pragma once

#include "media/TLibraryIndex.h"

#include <array>
#include <cfenv>
#include <string>

// Opens the FFmpeg libraries at run time and binds the entry points the program calls
// (TFFEntryPoints). One per process: created on first use, torn down at exit.
// Loading and unloading run on the user-interface thread only.
class TFFLoader {
public:
    static TFFLoader& Instance();

    TFFLoader(const TFFLoader&) = delete;
    TFFLoader& operator=(const TFFLoader&) = delete;

    // The override when one is set, else "lib" + base name + ".so." + major.
    std::string LibraryFileName(TLibraryIndex index) const;
    // Replaces the built file name; may carry a folder. Empty restores the built name.
    void SetLibraryFileName(TLibraryIndex index, const std::string& fileName);
    // The base name of the table row ("avcodec", ..., "c").
    static const char* LibraryBaseName(TLibraryIndex index);

    bool LoadLibraryItem(TLibraryIndex index);
    void UnloadLibraryItem(TLibraryIndex index);
    // All or nothing: at the first failure every member of the set is unloaded again.
    bool LoadLibraries(TLibrarySet set);
    void UnloadLibraries(TLibrarySet set);

    bool IsLibraryLoaded(TLibraryIndex index) const;
    bool LibrariesLoaded(TLibrarySet set) const;
    // Throws TFFLoaderError "Library %s not loaded." for the first member, in index order,
    // that is not loaded.
    void CheckLibraries(TLibrarySet set) const;

    // The folder the libraries are loaded from; empty means the default search only.
    const std::string& LibraryPath() const { return libraryPath_; }
    void SetLibraryPath(const std::string& folder) { libraryPath_ = folder; }
    const std::string& LastLoadError() const { return lastLoadError_; }

private:
    TFFLoader();
    ~TFFLoader();

    struct LibraryStatus {
        std::string fileNameOverride;
        void* module = nullptr;
        bool bound = false;
    };

    void BindLibrary(TLibraryIndex index);
    void RunLoadedHook(TLibraryIndex index);

    std::array<LibraryStatus, kLibraryCount> status_;
    std::string libraryPath_;
    std::string lastLoadError_;
    std::fenv_t savedFloatingPoint_;
};
