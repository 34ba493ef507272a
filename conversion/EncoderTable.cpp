#include "conversion/EncoderTable.h"

#include <limits>

namespace encoder_table {

namespace {

using L = std::string_view;
constexpr L kMonoStereo[] = {"mono", "stereo"};
// The layouts AAC's channel configurations name; others go into a program element that
// decoders read as an unknown layout.
constexpr L kAacLayouts[] = {"mono", "stereo", "2.1", "3.0", "3.0(back)", "4.0", "quad",
                             "quad(side)", "5.0", "5.1", "6.0(front)", "7.1"};
constexpr L kAc3Layouts[] = {"mono", "stereo", "2.1", "3.0", "3.0(back)", "3.1", "4.0", "4.1",
                             "quad", "quad(side)", "5.0", "5.0(side)", "5.1", "5.1(side)"};
constexpr L kAlacLayouts[] = {"mono", "stereo", "3.0", "4.0", "5.0", "5.1", "6.1(back)", "7.1(wide)"};
// Vorbis and Opus order channels by their count alone.
constexpr L kVorbisLayouts[] = {"mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};

constexpr int kAacRates[] = {7350, 8000, 11025, 12000, 16000, 22050, 24000,
                             32000, 44100, 48000, 64000, 88200, 96000};
constexpr int kAc3Rates[] = {32000, 44100, 48000};
constexpr int kMp3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kMp2Rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};

constexpr SampleFormat kFltp[] = {{"fltp", 0}};
constexpr SampleFormat kS16[] = {{"s16", 16}};
constexpr SampleFormat kLame[] = {{"s16p", 16}, {"s32p", 32}, {"fltp", 0}};
constexpr SampleFormat kOpus[] = {{"s16", 16}, {"flt", 0}};
// 32-bit containers that FFmpeg's lossless encoders fill with at most 24 bits.
constexpr SampleFormat kFlac[] = {{"s16", 16}, {"s32", 24}};
constexpr SampleFormat kAlac[] = {{"s16p", 16}, {"s32p", 24}};
constexpr SampleFormat kS24[] = {{"s32", 24}};
constexpr SampleFormat kS32[] = {{"s32", 32}};
constexpr SampleFormat kFlt[] = {{"flt", 0}};

// Bit rates in kbit/s.
constexpr int kAc3BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kMp2BitRates[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr int kMp3BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2BitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

constexpr int kWmaMaxRate = 48000;
constexpr int kVorbisMaxRate = 192000;
// Opus decodes at 48 kHz whatever it was given: a lower rate only narrows its band.
constexpr int kOpusRate = 48000;

constexpr bool kLossless = true;
constexpr bool kLossy = false;
// LAME's best variable rate, Vorbis's top quality.
constexpr BestQuality kLameBest{"0", 0, 0};
constexpr BestQuality kVorbisBest{"8", 0, 0};
constexpr BestQuality kAacBest{"", 512, 160};
constexpr BestQuality kOpusBest{"", 510, 128};
constexpr BestQuality kAc3Best{"", 640, 0};
constexpr BestQuality kWmaBest{"", 320, 0};
constexpr BestQuality kMp2Best{"", 384, 0};  // the low-rate table ends at 160
constexpr BestQuality kNone{"", 0, 0};

const EncoderRow kRows[] = {
    // encoder     codec        lossless   ch layouts          rates       max rate        rate
    //   formats   bit rates       low-rate bit rates  best
    {"aac",        "aac",       kLossy,    8, kAacLayouts,    kAacRates,  0,              0,
     kFltp,        {},             {},                 kAacBest},
    {"ac3",        "ac3",       kLossy,    6, kAc3Layouts,    kAc3Rates,  0,              0,
     kFltp,        kAc3BitRates,   {},                 kAc3Best},
    {"eac3",       "eac3",      kLossy,    6, kAc3Layouts,    kAc3Rates,  0,              0,
     kFltp,        {},             {},                 kAc3Best},
    {"alac",       "alac",      kLossless, 8, kAlacLayouts,   {},         0,              0,
     kAlac,        {},             {},                 kNone},
    {"flac",       "flac",      kLossless, 8, {},             {},         0,              0,
     kFlac,        {},             {},                 kNone},
    {"libmp3lame", "mp3",       kLossy,    2, kMonoStereo,    kMp3Rates,  0,              0,
     kLame,        kMp3BitRates,   kMpeg2BitRates,     kLameBest},
    {"mp2",        "mp2",       kLossy,    2, kMonoStereo,    kMp2Rates,  0,              0,
     kS16,         kMp2BitRates,   kMpeg2BitRates,     kMp2Best},
    {"libopus",    "opus",      kLossy,    8, kVorbisLayouts, kOpusRates, 0,              kOpusRate,
     kOpus,        {},             {},                 kOpusBest},
    {"libvorbis",  "vorbis",    kLossy,    8, kVorbisLayouts, {},         kVorbisMaxRate, 0,
     kFltp,        {},             {},                 kVorbisBest},
    {"wmav1",      "wmav1",     kLossy,    2, kMonoStereo,    {},         kWmaMaxRate,    0,
     kFltp,        {},             {},                 kWmaBest},
    {"wmav2",      "wmav2",     kLossy,    2, kMonoStereo,    {},         kWmaMaxRate,    0,
     kFltp,        {},             {},                 kWmaBest},
    // PCM takes any channels and rate; little-endian for WAV, big-endian for AIFF and AU.
    {"pcm_s16le",  "pcm_s16le", kLossless, 0, {},             {},         0,              0,
     kS16,         {},             {},                 kNone},
    {"pcm_s24le",  "pcm_s24le", kLossless, 0, {},             {},         0,              0,
     kS24,         {},             {},                 kNone},
    {"pcm_s32le",  "pcm_s32le", kLossless, 0, {},             {},         0,              0,
     kS32,         {},             {},                 kNone},
    {"pcm_f32le",  "pcm_f32le", kLossless, 0, {},             {},         0,              0,
     kFlt,         {},             {},                 kNone},
    {"pcm_s16be",  "pcm_s16be", kLossless, 0, {},             {},         0,              0,
     kS16,         {},             {},                 kNone},
    {"pcm_s24be",  "pcm_s24be", kLossless, 0, {},             {},         0,              0,
     kS24,         {},             {},                 kNone},
    {"pcm_s32be",  "pcm_s32be", kLossless, 0, {},             {},         0,              0,
     kS32,         {},             {},                 kNone},
    {"pcm_f32be",  "pcm_f32be", kLossless, 0, {},             {},         0,              0,
     kFlt,         {},             {},                 kNone},
};

}  // namespace

const EncoderRow* rowOf(std::string_view encoder)
{
    for (const EncoderRow& row : kRows)
        if (row.encoder == encoder)
            return &row;
    return nullptr;
}

std::span<const EncoderRow> rows() { return kRows; }

bool isLossless(std::string_view encoder)
{
    if (const EncoderRow* row = rowOf(encoder))
        return row->lossless;
    return encoder.substr(0, 4) == "pcm_";
}

bool isFloatPcm(std::string_view codec) { return codec.substr(0, 5) == "pcm_f"; }

std::span<const int> bitRatesAt(const EncoderRow& row, int sampleRate)
{
    if (sampleRate > 0 && sampleRate < kLowSampleRate && !row.lowRateBitRates.empty())
        return row.lowRateBitRates;
    return row.bitRates;
}

int depthOf(const SampleFormat& format)
{
    return format.bits == 0 ? std::numeric_limits<int>::max() : format.bits;
}

}  // namespace encoder_table
