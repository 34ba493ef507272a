#pragma once

#include <span>
#include <string_view>

// What each audio encoder the conversion uses can hold, one row per encoder, as FFmpeg 5.1
// states it ("ffmpeg -h encoder=<name>") and as its decoders read the result back. An encoder
// without a row (PCM, the source's own codec in Matroska) takes what it is given.
namespace encoder_table {

// A sample format the encoder takes, with the bits of depth it keeps (0: floating point, deeper
// than any integer format).
struct SampleFormat {
    std::string_view name;  // FFmpeg's: "s16", "s32p", "fltp"
    int bits;
};

struct EncoderRow {
    std::string_view encoder;                     // FFmpeg's name
    int maxChannels;                              // 0: no limit
    // The layouts it writes so that players read them back as they are, FFmpeg's names;
    // empty: any layout of up to maxChannels.
    std::span<const std::string_view> layouts;
    std::span<const int> sampleRates;             // ascending; empty: any up to maxRate
    int maxRate;                                  // 0: no limit
    int outputRate;                               // the rate every output gets; 0: the nearest it takes
    std::span<const SampleFormat> sampleFormats;  // shallowest first
};

// The row of an encoder; null when it has none.
const EncoderRow* rowOf(std::string_view encoder);

}  // namespace encoder_table
