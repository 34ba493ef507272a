#pragma once

#include <span>
#include <string_view>

// What each audio encoder the conversion uses takes and how it is set for its best, one row per
// encoder, as FFmpeg 5.1 states it ("ffmpeg -h encoder=<name>") and as its decoders read the
// result back. An encoder without a row (the source's own codec kept as it is) takes what it is
// given. Adding an encoder is adding a row.
namespace encoder_table {

// A sample format the encoder takes, with the bits of depth it keeps (0: floating point, deeper
// than any integer format).
struct SampleFormat {
    std::string_view name;  // FFmpeg's: "s16", "s32p", "fltp"
    int bits;
};

// Its best quality: a value of its own quality scale, or else a bit rate.
struct BestQuality {
    std::string_view scale;  // the "-q" value; "" when set by bit rate
    int kilobits;            // the best rate, kbit/s; with perChannel, the most it reaches
    int perChannel;          // kbit/s for each channel; 0: `kilobits` whatever the channels
};

struct EncoderRow {
    std::string_view encoder;                     // FFmpeg's name
    std::string_view codec;                       // the codec it writes
    bool lossless;
    int maxChannels;                              // 0: no limit
    // The layouts it writes so that players read them back as they are, FFmpeg's names;
    // empty: any layout of up to maxChannels.
    std::span<const std::string_view> layouts;
    std::span<const int> sampleRates;             // ascending; empty: any up to maxRate
    int maxRate;                                  // 0: no limit
    int outputRate;                               // the rate every output gets; 0: the nearest it takes
    std::span<const SampleFormat> sampleFormats;  // shallowest first
    // The bit rates it accepts, kbit/s; empty: any. Below kLowSampleRate the second list
    // applies when it has one (MPEG-2's rates).
    std::span<const int> bitRates;
    std::span<const int> lowRateBitRates;
    BestQuality best;                             // unused for lossless encoders
};

// Sample rates below this are MPEG-2's, with a bit rate table of their own.
inline constexpr int kLowSampleRate = 32000;

// The row of an encoder; null when it has none.
const EncoderRow* rowOf(std::string_view encoder);
std::span<const EncoderRow> rows();

// True for an encoder whose row says so, and for every PCM encoder: they write the samples as
// they come.
bool isLossless(std::string_view encoder);

// True for a codec of floating-point PCM samples ("pcm_f32le", "pcm_f64be", ...).
bool isFloatPcm(std::string_view codec);

// The bit rates the encoder accepts for audio of that sample rate (0: unknown), kbit/s
// ascending; empty: any.
std::span<const int> bitRatesAt(const EncoderRow& row, int sampleRate);

// The bits of depth of a sample format, floating point deeper than any integer format.
int depthOf(const SampleFormat& format);

}  // namespace encoder_table
