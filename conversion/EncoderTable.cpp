#include "conversion/EncoderTable.h"

#include <iterator>

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

constexpr int kWmaMaxRate = 48000;
constexpr int kVorbisMaxRate = 192000;
// Opus decodes at 48 kHz whatever it was given: a lower rate only narrows its band.
constexpr int kOpusRate = 48000;

const EncoderRow kRows[] = {
    // encoder      channels layouts         rates       max rate       rate       formats
    {"aac",         8,       kAacLayouts,    kAacRates,  0,             0,         kFltp},
    {"ac3",         6,       kAc3Layouts,    kAc3Rates,  0,             0,         kFltp},
    {"eac3",        6,       kAc3Layouts,    kAc3Rates,  0,             0,         kFltp},
    {"alac",        8,       kAlacLayouts,   {},         0,             0,         kAlac},
    {"flac",        8,       {},             {},         0,             0,         kFlac},
    {"libmp3lame",  2,       kMonoStereo,    kMp3Rates,  0,             0,         kLame},
    {"mp2",         2,       kMonoStereo,    kMp2Rates,  0,             0,         kS16},
    {"libopus",     8,       kVorbisLayouts, kOpusRates, 0,             kOpusRate, kOpus},
    {"libvorbis",   8,       kVorbisLayouts, {},         kVorbisMaxRate, 0,        kFltp},
    {"wmav1",       2,       kMonoStereo,    {},         kWmaMaxRate,   0,         kFltp},
    {"wmav2",       2,       kMonoStereo,    {},         kWmaMaxRate,   0,         kFltp},
};

}  // namespace

const EncoderRow* rowOf(std::string_view encoder)
{
    for (const EncoderRow& row : kRows)
        if (row.encoder == encoder)
            return &row;
    return nullptr;
}

}  // namespace encoder_table
