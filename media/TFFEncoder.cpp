#include "media/TFFEncoder.h"

#include "media/TFFLoader.h"

// Creating the loader first also makes it outlive this component and its probe.
TFFEncoder::TFFEncoder()
{
    TFFLoader::Instance();
}

TFFEncoder::~TFFEncoder() = default;

bool TFFEncoder::FFmpegLoaded() const
{
    return TFFLoader::Instance().LibrariesLoaded(all_libraries);
}

bool TFFEncoder::LoadFFmpeg(const std::string& folder, TLibrarySet libraries)
{
    TFFLoader& loader = TFFLoader::Instance();
    loader.SetLibraryPath(folder);
    if (loader.LoadLibraries(libraries))
        return true;
    lastError_ = loader.LastLoadError();
    return false;
}
