#pragma once

#include "media/TFFDecoder.h"
#include "media/TLibraryIndex.h"

#include <string>

// The FFmpeg host component the main window talks to: it opens the libraries and
// owns the one probe object.
class TFFEncoder {
public:
    TFFEncoder();
    ~TFFEncoder();

    // True when every FFmpeg library (and the C runtime row) is loaded and bound.
    bool FFmpegLoaded() const;
    // Loads the libraries from folder (all or nothing); on failure LastError() holds
    // the loader's LastLoadError. A program that only probes (the command line) may load
    // probe_libraries: it starts sooner without avfilter and avdevice and their dependencies.
    bool LoadFFmpeg(const std::string& folder, TLibrarySet libraries = all_libraries);

    TFFDecoder& Decoder() { return decoder_; }
    const std::string& LastError() const { return lastError_; }

private:
    TFFDecoder decoder_;
    std::string lastError_;
};
