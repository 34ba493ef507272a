// The WAV reader, the sample processing and the rules, called directly.
#include "NormalizerTestSupport.h"
#include "OversampledPeak.h"

#include "TruePeakMeter.h"
#include "normalizer/GainProcessor.h"
#include "normalizer/TruePeakLimiter.h"
#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"
#include "normalizer/WavParser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fcntl.h>

using namespace normtest;

namespace {

std::string le64(unsigned long long v) { return le32(v & 0xFFFFFFFFu) + le32(v >> 32); }

const std::string kFmt16 = pcmFmt(1, 2, 44100, 16);
const std::string kSamples(400, '\x11');  // 100 stereo 16-bit frames

std::string extensibleFmt(unsigned container, unsigned valid, unsigned mask, unsigned subtype)
{
    unsigned align = 2 * container / 8;
    std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return chunk("fmt ", le16(0xFFFE) + le16(2) + le32(48000) + le32(48000 * align) + le16(align) +
                             le16(container) + le16(22) + le16(valid) + le32(mask) + le16(subtype) + guidTail);
}

WavLayout parseBytes(const std::string& bytes)
{
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "f.wav", bytes);
    UniqueFd fd(::open((dir / "f.wav").c_str(), O_RDONLY));
    return wav_parser::parse(fd.get());
}

}  // namespace

TEST(NormalizerWavParser, AcceptsWhatWritersProduceAndRefusesTheRest)
{
    const std::string header = "WAVE" + kFmt16;
    const std::string list = chunk("LIST", "INFOabc");  // odd size: padded
    struct Row {
        const char* name;
        std::string bytes;
        const char* error;  // "" when the file is accepted
        std::uint64_t frames;
        bool clamped;
    } rows[] = {
        {"tags before the samples", riff(kFmt16 + list + chunk("data", kSamples)), "", 100, false},
        {"trailing partial frame", riff(kFmt16 + chunk("data", kSamples + "\x01")), "", 100, false},
        {"data size past the end", "RIFF" + le32(9000) + header + "data" + le32(4000) + kSamples, "", 100, true},
        {"unseekable writer", "RIFF" + le32(~0u) + header + "data" + le32(~0u) + kSamples, "", 100, true},
        {"zero sizes", "RIFF" + le32(0) + header + "data" + le32(0) + kSamples, "", 100, true},
        {"empty data, then tags", riff(kFmt16 + chunk("data", "") + list), "", 0, false},
        {"RF64", "RF64" + le32(~0u) + "WAVE" + chunk("ds64", le64(480) + le64(400) + le64(100) + le32(0)) + kFmt16 +
                     "data" + le32(~0u) + kSamples, "", 100, false},
        {"20 bits in 24", riff(extensibleFmt(24, 20, 3, 1) + chunk("data", std::string(600, 0))), "", 100, false},
        {"empty", "", "not a RIFF WAVE file", 0, false},
        {"header cut short", "RIFF" + le32(500) + "WAVE" + "fmt " + le32(16) + "\x01", "truncated", 0, false},
        {"no fmt", riff(chunk("data", kSamples)), "no fmt chunk", 0, false},
        {"no data", riff(kFmt16 + list), "no data chunk", 0, false},
        {"short fmt", riff(chunk("fmt ", "\x01\x00\x02\x00") + chunk("data", kSamples)), "too short", 0, false},
        {"24-bit float", riff(pcmFmt(3, 2, 44100, 24) + chunk("data", kSamples)), "unsupported", 0, false},
        {"unknown subformat", riff(extensibleFmt(16, 16, 3, 0x55) + chunk("data", kSamples)), "unsupported", 0, false},
        {"bad block size", riff(kFmt16.substr(0, 20) + le16(3) + le16(16) + chunk("data", kSamples)), "malformed", 0, false},
        {"RF64 without ds64", riff(kFmt16 + chunk("data", kSamples), "RF64"), "ds64", 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (*row.error) {
            try {
                parseBytes(row.bytes);
                ADD_FAILURE() << "accepted";
            } catch (const WavError& e) {
                EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
            }
            continue;
        }
        WavLayout layout = parseBytes(row.bytes);
        EXPECT_EQ(layout.frameCount, row.frames);
        EXPECT_EQ(layout.dataSizeClamped, row.clamped);
        EXPECT_EQ(layout.patches.empty(), !row.clamped);
        EXPECT_EQ(layout.sampleOffset + layout.sampleBytes() <= layout.fileSize, true);
    }
}

namespace {

WavFormat intFormat(unsigned container, unsigned valid)
{
    WavFormat f;
    f.encoding = container == 8 ? SampleEncoding::UnsignedInt : SampleEncoding::SignedInt;
    f.channels = 1;
    f.sampleRate = 48000;
    f.containerBits = static_cast<std::uint16_t>(container);
    f.validBits = static_cast<std::uint16_t>(valid);
    f.blockAlign = static_cast<std::uint16_t>(container / 8);
    return f;
}

std::vector<std::uint8_t> encode(unsigned bytes, const std::vector<long long>& values)
{
    std::vector<std::uint8_t> data;
    for (long long v : values)
        for (unsigned k = 0; k < bytes; ++k)
            data.push_back(static_cast<std::uint8_t>(static_cast<unsigned long long>(v) >> (8 * k)));
    return data;
}

std::vector<long long> decodeInts(unsigned bytes, const std::vector<std::uint8_t>& data, bool isUnsigned)
{
    std::vector<long long> values;
    for (std::size_t i = 0; i < data.size(); i += bytes) {
        unsigned long long u = 0;
        for (unsigned k = 0; k < bytes; ++k)
            u |= static_cast<unsigned long long>(data[i + k]) << (8 * k);
        long long v = isUnsigned ? static_cast<long long>(u) : static_cast<long long>(u << (64 - 8 * bytes)) >> (64 - 8 * bytes);
        values.push_back(v);
    }
    return values;
}

}  // namespace

TEST(NormalizerGainProcessor, ScalesRoundsDithersAndClampsIntegers)
{
    const double half = 20 * std::log10(0.5);
    struct Row {
        const char* name;
        unsigned container, valid;
        double gainDb;
        std::vector<long long> in, expected;
        long long tolerance;  // dither may move a sample by one step
    } rows[] = {
        {"24-bit halved", 24, 24, half, {1000, -1000, 8388606, -8388608, 4}, {500, -500, 4194303, -4194304, 2}, 0},
        {"32-bit halved", 32, 32, half, {2147483646, -2147483648LL, 6}, {1073741823, -1073741824, 3}, 0},
        {"24-bit clamped", 24, 24, 12, {8000000, -8000000}, {8388607, -8388608}, 0},
        {"16-bit clamped", 16, 16, 6, {30000, -30000}, {32767, -32768}, 0},
        {"16-bit dithered", 16, 16, half, {1000, -1000}, {500, -500}, 1},
        {"8-bit around its offset", 8, 8, half, {228, 28, 128}, {178, 78, 128}, 1},
        {"20 of 24 bits keep their unused bits", 24, 20, -3, {16 * 1000, -16 * 1000}, {16 * 708, -16 * 708}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        unsigned bytes = row.container / 8;
        std::vector<std::uint8_t> data = encode(bytes, row.in);
        std::vector<std::uint8_t> unityLimited = data;
        GainProcessor(intFormat(row.container, row.valid), row.gainDb, 7).process(data.data(), row.in.size());
        const std::vector<double> unity(row.in.size(), 1.0);
        GainProcessor(intFormat(row.container, row.valid), row.gainDb, 7)
            .process(unityLimited.data(), row.in.size(), unity.data());
        EXPECT_EQ(unityLimited, data);  // a limiter gain of 1 is the plain gain, sample for sample
        std::vector<long long> out = decodeInts(bytes, data, row.container == 8);
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_LE(std::llabs(out[i] - row.expected[i]), row.tolerance) << "sample " << i << ": " << out[i];
            if (row.valid < row.container) {
                EXPECT_EQ(out[i] % 16, 0);
            }
        }
    }
}

TEST(NormalizerGainProcessor, DitherIsTriangularReproducibleAndOnlyAtSixteenBitsOrFewer)
{
    auto run = [](unsigned container, std::uint64_t seed) {
        std::vector<std::uint8_t> silence(container / 8 * 20000, 0);
        GainProcessor(intFormat(container, container), -3, seed).process(silence.data(), 20000);
        return decodeInts(container / 8, silence, false);
    };
    std::vector<long long> a = run(16, 1);
    EXPECT_EQ(a, run(16, 1));
    EXPECT_NE(a, run(16, 2));
    // Triangular noise over -1..1 rounds to -1, 0, +1 with chances 1/8, 3/4, 1/8.
    EXPECT_NEAR(std::count(a.begin(), a.end(), 0) / 20000.0, 0.75, 0.02);
    EXPECT_NEAR(std::count(a.begin(), a.end(), 1) / 20000.0, 0.125, 0.02);
    for (long long v : run(24, 1))
        ASSERT_EQ(v, 0);
}

TEST(NormalizerTruePeak, MeterFindsInterSamplePeaksAndLimiterHoldsThemWithoutTouchingQuietParts)
{
    // Quiet tone, then bursts whose samples miss their peaks (at a quarter of 44.1 kHz,
    // phase-shifted) and a lone full-scale click.
    struct Row {
        unsigned rate;
        double ceiling;
    } rows[] = {{44100, 0.5}, {96000, 0.89}, {192000, 0.7}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rate);
        const std::size_t frames = row.rate;  // one second, stereo
        std::vector<double> signal(2 * frames);
        for (std::size_t i = 0; i < frames; ++i) {
            double t = double(i) / row.rate;
            double burst = t > 0.5 && std::fmod(t, 0.1) < 0.02 ? 1.4 * std::sin(2 * M_PI * 11025 * t + 0.7) : 0;
            signal[2 * i] = 0.1 * std::sin(2 * M_PI * 440 * t) + burst;
            signal[2 * i + 1] = i == frames / 4 ? 1.0 : -signal[2 * i] / 2;
        }
        TruePeakMeter peakMeter(2, row.rate);
        TruePeakLimiter limiter(2, row.rate, row.ceiling);
        std::vector<double> gains;
        for (std::size_t at = 0; at < frames; at += 1000) {
            peakMeter.addFrames(signal.data() + 2 * at, std::min<std::size_t>(1000, frames - at));
            limiter.push(signal.data() + 2 * at, std::min<std::size_t>(1000, frames - at), gains);
        }
        limiter.finish(gains);
        // Burst and tone, with the ringing of the burst's sudden start; at 44.1 kHz the
        // samples alone reach about 1.2.
        EXPECT_NEAR(peakMeter.truePeak(), 1.55, 0.1);
        ASSERT_EQ(gains.size(), frames);
        for (std::size_t i = 0; i < signal.size(); ++i)
            signal[i] *= gains[i / 2];
        EXPECT_EQ(gains[frames / 8], 1.0);  // quiet, far from every peak
        EXPECT_NEAR(limiter.deepestGain(), row.ceiling / 1.4, 0.1);
        // Judged by an interpolator other than the limiter's own.
        OversampledPeak judge(2, row.rate);
        judge.addFrames(signal.data(), frames);
        EXPECT_LE(judge.peak(), row.ceiling * 1.01);
        EXPECT_GE(judge.peak(), row.ceiling * 0.9);
    }
}
