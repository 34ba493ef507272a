#pragma once

#include "WavFormat.h"

#include <cstdint>
#include <vector>

// A size field of the header to be written differently in the output, because the
// input's was a placeholder or ran past the end of the file.
struct HeaderPatch {
    std::uint64_t offset = 0;
    unsigned width = 4;  // 4 or 8 bytes, little-endian
    std::uint64_t value = 0;
};

// Where the samples of a WAV file lie. Everything outside
// [sampleOffset, sampleOffset + frameCount * blockAlign) is copied to the output as it is,
// apart from the patches.
struct WavLayout {
    WavFormat format;
    bool rf64 = false;
    std::uint64_t fileSize = 0;
    std::uint64_t sampleOffset = 0;
    std::uint64_t frameCount = 0;
    bool dataSizeClamped = false;  // the declared data size ran past the end of the file
    std::vector<HeaderPatch> patches;

    std::uint64_t sampleBytes() const { return frameCount * format.blockAlign; }
};
