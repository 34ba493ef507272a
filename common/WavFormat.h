#pragma once

#include <cstdint>

enum class SampleEncoding { UnsignedInt, SignedInt, Float };

// The sample format of a WAV file, as its fmt chunk gives it.
struct WavFormat {
    SampleEncoding encoding = SampleEncoding::SignedInt;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;     // bytes per frame
    std::uint16_t containerBits = 0;  // 8, 16, 24, 32 or 64: the bits each sample occupies
    std::uint16_t validBits = 0;      // significant bits, left-justified in the container
    std::uint32_t channelMask = 0;    // speaker positions; 0 when the file gives none
    bool extensible = false;

    unsigned bytesPerSample() const { return containerBits / 8u; }
    bool isInteger() const { return encoding != SampleEncoding::Float; }
};
