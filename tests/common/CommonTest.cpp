// What the program and the normaliser share: the gain rules, the block histogram and the
// measuring mode's line.
#include "BlockHistogram.h"
#include "GainRules.h"
#include "LoudnessMeter.h"
#include "MeasureLine.h"
#include "SampleStreamMeter.h"
#include "TruePeakMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <vector>

namespace {

gain_rules::Levels levels(double lufs, double peakDb, double seconds = 2,
                          gain_rules::Status status = gain_rules::Status::Measured)
{
    return gain_rules::Levels{status, lufs, std::pow(10.0, peakDb / 20), seconds, 0};
}

}  // namespace

TEST(GainRules, EachModeReachesItsLevelUnderTheCeiling)
{
    using gain_rules::Mode;
    const auto silent = levels(-HUGE_VAL, -200, 5, gain_rules::Status::Silent);
    const auto shortOne = levels(-HUGE_VAL, -3, 0.2, gain_rules::Status::TooShort);
    struct Row {
        const char* name;
        Mode mode;
        std::vector<gain_rules::Levels> files;
        double joint;
        std::vector<double> gains;  // NAN: left alone
        std::vector<bool> limited;  // lowered to the ceiling, or held by the limiter
        bool limiter = false;
    } rows[] = {
        {"track", Mode::Track, {levels(-20, -10), levels(-10, -3), levels(-14.03, -5)}, 0, {6, -4, NAN}, {0, 0, 0}},
        {"track, peak-limited", Mode::Track, {levels(-30, -6)}, 0, {5}, {1}},
        {"album keeps the spread", Mode::Album, {levels(-20, -12), levels(-16, -8), silent}, -18, {4, 4, NAN}, {0, 0, 0}},
        {"album under its loudest peak", Mode::Album, {levels(-20, -10), levels(-16, -4)}, -18, {3, 3}, {1, 1}},
        {"weighted mean", Mode::WeightedMean, {levels(-20, -20, 1), levels(-10, -9, 3), silent}, 0, {7.5, -2.5, NAN}, {0, 0, 0}},
        {"arithmetic mean", Mode::ArithmeticMean, {levels(-20, -20, 1), levels(-10, -9, 3), shortOne}, 0, {5, -5, NAN}, {0, 0, 0}},
        {"a single file is its own mean", Mode::ArithmeticMean, {levels(-20, -10)}, 0, {NAN}, {0}},
        {"track, limited", Mode::Track, {levels(-30, -6), levels(-14.03, -5)}, 0, {16, NAN}, {1, 0}, true},
        {"album, each file limited by its own peaks", Mode::Album, {levels(-20, -10), levels(-16, -4)}, -18, {4, 4},
         {0, 1}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto decisions = gain_rules::decide(row.mode, row.files, row.joint, {.limitPeaks = row.limiter});
        ASSERT_EQ(decisions.size(), row.gains.size());
        for (std::size_t i = 0; i < decisions.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(decisions[i].apply, !std::isnan(row.gains[i]));
            if (decisions[i].apply)
                EXPECT_NEAR(decisions[i].gainDb, row.gains[i], 1e-9);
            else
                EXPECT_FALSE(decisions[i].reason.empty());
            EXPECT_EQ(row.limiter ? decisions[i].limit : decisions[i].peakLimited, bool(row.limited[i]));
        }
    }
    EXPECT_EQ(gain_rules::decide(Mode::Track, {silent}, 0, {})[0].reason, "silent");
    EXPECT_EQ(gain_rules::decide(Mode::Track, {shortOne}, 0, {})[0].reason, "too short to measure");
}

namespace {

struct Signal {
    unsigned channels, rate;
    double seconds, level;  // RMS of the noise, linear
    double burst;           // amplitude of a short tone burst twice a second; 0 for none
    bool steady;            // a steady tone instead of noise under a slow swell
};

// Deterministic noise under a slow swell (or a steady tone), with short bursts: loudness
// spread over many bins, as music has it.
std::vector<double> make(const Signal& s)
{
    const auto frames = static_cast<std::size_t>(s.seconds * s.rate);
    std::vector<double> out(frames * s.channels);
    std::uint64_t state = 12345 + s.rate + s.channels;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / s.rate;
        const double swell = s.steady ? 1.0 : 0.1 + 0.9 * std::pow(std::sin(M_PI * t / 9), 2);
        const double burst = std::fmod(t, 0.5) < 0.01 ? s.burst * std::sin(2 * M_PI * 3000 * t) : 0;
        for (unsigned c = 0; c < s.channels; ++c) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const double noise = (double(state >> 11) / double(1ULL << 53) - 0.5) * std::sqrt(12.0);
            const double tone = std::sin(2 * M_PI * 997 * t) * std::sqrt(2.0);
            out[i * s.channels + c] = s.level * swell * (s.steady ? tone : noise) + burst;
        }
    }
    return out;
}

}  // namespace

// Each file's histogram gated alone gives its loudness, and the files' histograms added up give
// the set's loudness as the meter gives it for them measured together.
TEST(BlockHistogram, MergedFilesGateAsTheJointMeasurement)
{
    const Signal signals[] = {{2, 44100, 20, 0.1, 0.9, false}, {1, 48000, 7, 0.03, 0, true},
                              {6, 48000, 13, 0.01, 1.0, false}, {2, 96000, 9, 0.3, 0, false},
                              {2, 44100, 0.3, 0.1, 0, false}};
    std::vector<std::unique_ptr<LoudnessMeter>> report, plain;
    for (const Signal& s : signals) {
        const std::vector<double> samples = make(s);
        for (auto* meters : {&report, &plain}) {
            const auto measures = meters == &report ? LoudnessMeter::Measures::ForReport : LoudnessMeter::Measures::LoudnessOnly;
            meters->push_back(std::make_unique<LoudnessMeter>(s.channels, s.rate, 0, measures));
            // Fed in uneven pieces, as pipe reads come.
            for (std::size_t at = 0, piece = 1; at < samples.size() / s.channels; at += piece, piece = piece * 7 % 9973)
                meters->back()->addFrames(samples.data() + at * s.channels,
                                          std::min(piece, samples.size() / s.channels - at));
        }
        const LoudnessMeter& m = *report.back();
        const double own = m.integratedLoudness();
        EXPECT_TRUE(std::fabs(m.blocks().integratedLoudness() - own) < 1e-9 || m.blocks().integratedLoudness() == own);
        EXPECT_EQ(m.integratedLoudness(), plain.back()->integratedLoudness());
        EXPECT_EQ(BlockHistogram::fromText(m.blocks().text()), m.blocks());
    }
    EXPECT_TRUE(report.back()->blocks().empty());  // under 400 ms
    EXPECT_NEAR(report[0]->loudnessRange(), 2.9, 0.01);  // the swell, as the meter has always given it
    EXPECT_NEAR(report[3]->loudnessRange(), 6.9, 0.01);
    double worst = 0;
    for (const std::vector<std::size_t>& set : std::vector<std::vector<std::size_t>>{{0, 1}, {0, 2, 3}, {0, 1, 2, 3, 4}}) {
        BlockHistogram merged;
        std::vector<const LoudnessMeter*> together;
        for (std::size_t i : set) {
            merged.merge(report[i]->blocks());
            together.push_back(plain[i].get());
        }
        const double joint = LoudnessMeter::jointLoudness(together);
        worst = std::max(worst, std::fabs(merged.integratedLoudness() - joint));
        EXPECT_NEAR(merged.integratedLoudness(), joint, 0.01);
    }
    std::cout << "merged against joint loudness, worst difference: " << worst << " LU\n";
}

TEST(MeasureLine, ReadsItsOwnFormOnly)
{
    BlockHistogram blocks;
    for (double lufs : {-20.04, -20.01, -19.5, -35.0, -80.0})
        blocks.addBlock(lufs);
    // Read back to the last bit: a plan's gains are decided from these figures.
    const Measurement m{blocks.integratedLoudness(), 3.5, -0.8125071234567, -1.25, 2713021.0 / 44100, blocks};
    const std::string good = measure_line::format(m);
    const std::optional<Measurement> read = measure_line::parse(good);
    ASSERT_TRUE(read) << good;
    EXPECT_EQ(read->integratedLufs, m.integratedLufs);
    EXPECT_EQ(read->truePeakDbtp, m.truePeakDbtp);
    EXPECT_EQ(read->seconds, m.seconds);
    EXPECT_EQ(read->blocks, blocks);
    EXPECT_EQ(blocks.blockCount(), 4u);  // -80 is under the absolute gate

    const std::string silence = "measured\tI=-inf\tLRA=0.00\tTP=-inf\tSP=-inf\tT=2.000000\tblocks=-";
    const std::string tail = "\tT=1.000000\tblocks=" + blocks.text();
    auto line = [&](const std::string& lufs) { return "measured\tI=" + lufs + "\tLRA=1.00\tTP=-1.0\tSP=-2.0" + tail; };
    const std::string lufs = std::to_string(m.integratedLufs);
    struct Row {
        std::string line;
        bool good;
    } rows[] = {
        {silence, true},
        {line(lufs), true},
        {line("-19.0"), false},  // not what its blocks give
        {silence.substr(0, silence.size() - 1) + "12:1", false},  // blocks without a loudness
        {line(lufs) + "\textra=1", false},
        {line(lufs).substr(0, line(lufs).rfind('\t')), false},
        {"measured:\tI=" + lufs + "\tLRA=1.00\tTP=-1.0\tSP=-2.0" + tail, false},
        {"measured\tI=" + lufs + "\tLRA=-1.00\tTP=-1.0\tSP=-2.0" + tail, false},
        {"measured\tI=" + lufs + "\tLRA=nan\tTP=-1.0\tSP=-2.0" + tail, false},
        {"measured\tI=" + lufs + "\tLRA=1.00\tTP=inf\tSP=-2.0" + tail, false},
        {"measured\tI=" + lufs + "\tRANGE=1.00\tTP=-1.0\tSP=-2.0" + tail, false},
        {"measured\tI=" + lufs + "\tLRA=1.00\tTP=-1,0\tSP=-2.0" + tail, false},
        {"measured\tI=" + lufs + "\tLRA=1.00\tTP=-1.0\tSP=-2.0\tT=-1\tblocks=" + blocks.text(), false},
        {"measured\tI=" + lufs + "\tLRA=1.00\tTP=-1.0\tSP=-2.0\tT=1\tblocks=", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(measure_line::parse(row.line).has_value(), row.good) << row.line;
        // The normaliser's line of a file: any name, then the same line.
        const std::string name = "/t/a\tmeasured\t0.wav";
        const auto file = measure_line::parseFile(name + "\t" + row.line);
        EXPECT_EQ(file.has_value(), row.good) << row.line;
        EXPECT_TRUE(!file || file->file == name);
        EXPECT_FALSE(measure_line::parseFile(row.line));
    }
    for (const char* text : {"-", "0:1", "999:2", "5:1,0,3"})
        EXPECT_TRUE(BlockHistogram::fromText(text)) << text;
    for (const char* text : {"", "5", "5:", "5:1,", "5:0,1", "5:1,0", "-1:1", "999:1,1", "5:1,-1", "5:+1", " 5:1", "5:1;2"})
        EXPECT_FALSE(BlockHistogram::fromText(text)) << text;
}

// However a caller cuts the signal, every peak over the level is found: a short piece leaves
// frames before it within reach of the next.
TEST(TruePeakMeter, PeaksDoNotDependOnHowTheFramesAreCut)
{
    // Pieces of 64 and 3 frames, a click 2 frames before every other short piece.
    const std::size_t frames = 67 * 50;
    std::vector<double> samples(2 * frames, 0.0);
    for (std::size_t click = 62; click < frames; click += 2 * 67)
        samples[2 * click] = 0.9;
    TruePeakMeter whole(2, 44100), cut(2, 44100), wholeLimited(2, 44100), cutLimited(2, 44100);
    std::vector<double> wholePeaks(frames), cutPeaks(frames);
    whole.addFrames(samples.data(), frames);
    wholeLimited.framePeaks(samples.data(), frames, 0.5, wholePeaks.data());
    for (std::size_t at = 0; at < frames; at += 67)
        for (std::size_t piece : {std::size_t(64), std::size_t(3)}) {
            const std::size_t from = at + (piece == 3 ? 64 : 0);
            cut.addFrames(samples.data() + 2 * from, piece);
            cutLimited.framePeaks(samples.data() + 2 * from, piece, 0.5, cutPeaks.data() + from);
        }
    EXPECT_EQ(cut.truePeak(), whole.truePeak());
    EXPECT_EQ(cut.samplePeak(), 0.9);
    for (std::size_t i = 0; i < frames; ++i) {
        if (wholePeaks[i] > 0.5 || cutPeaks[i] > 0.5) {
            ASSERT_EQ(cutPeaks[i], wholePeaks[i]) << "frame " << i;
        }
    }
}

// Frames that cannot beat the peak so far are not summed exactly; the peak must not change
// by a bit. Steady tones at their peak, clicks that beat the last by a hair, noise.
TEST(TruePeakMeter, SkippedFramesNeverChangeThePeak)
{
    for (unsigned rate : {44100u, 48000u, 96000u})
        for (int signal = 0; signal < 4; ++signal) {
            const std::size_t frames = rate / 2;
            std::vector<double> samples(2 * frames);
            std::uint32_t noise = 12345;
            for (std::size_t i = 0; i < frames; ++i) {
                const double t = double(i) / rate;
                noise = noise * 1664525u + 1013904223u;
                // Pairs of equal samples, each pair a hair higher than the last: the peaks lie
                // between the samples and each beats the peak so far by far less than a float's
                // precision.
                const double click = i % 50 < 2 ? 0.3 * (1 + 1e-9 * double(i / 50)) : 0.0;
                const double values[] = {0.5 * std::sin(2 * M_PI * 441 * t), 0.9 * std::sin(2 * M_PI * 997 * t + 0.3),
                                         click, double(noise >> 8) / (1 << 23) - 1.0};
                samples[2 * i] = values[signal];
                samples[2 * i + 1] = -0.7 * values[signal];
            }
            TruePeakMeter measured(2, rate), everyFrame(2, rate);
            std::vector<double> peaks(frames);
            measured.addFrames(samples.data(), frames);
            everyFrame.framePeaks(samples.data(), frames, -1.0, peaks.data());
            EXPECT_EQ(measured.truePeak(), *std::max_element(peaks.begin(), peaks.end())) << rate << " " << signal;
        }
}

// Raw samples cut anywhere, even inside a frame, measure as the same samples read whole.
TEST(SampleStreamMeter, FiguresDoNotDependOnWhereTheBytesAreCut)
{
    WavFormat format;
    format.encoding = SampleEncoding::SignedInt;
    format.channels = 2;
    format.sampleRate = 44100;
    format.containerBits = format.validBits = 16;
    format.blockAlign = 4;
    std::vector<std::uint8_t> bytes(4 * 44100 * 3 + 2);  // a cut frame at the end is not counted
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    SampleStreamMeter whole(format), cut(format);
    whole.add(bytes.data(), bytes.size());
    for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece % 7919 + 3)
        cut.add(bytes.data() + at, std::min(piece, bytes.size() - at));
    EXPECT_EQ(measure_line::format(cut.result()), measure_line::format(whole.result()));
    EXPECT_EQ(whole.result().seconds, 3.0);
}
