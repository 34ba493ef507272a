#include "analysis/LineSplitter.h"
#include "analysis/ProgressMath.h"
#include "analysis/ToolErrorReport.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunMessages.h"
#include "tools/ToolContracts.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

using namespace tool_output;

namespace {

// Every line the splitter hands over when `text` arrives cut at `cut`.
std::vector<std::string> linesOf(std::string_view text, std::size_t cut)
{
    std::vector<std::string> lines;
    auto collect = [&](std::string_view line) { lines.emplace_back(line); };
    LineSplitter splitter;
    splitter.feed(text.substr(0, cut), collect);
    splitter.feed(text.substr(cut), collect);
    splitter.finish(collect);
    return lines;
}

}  // namespace

TEST(LineSplitter, MarkersCutAtAnyByteAreSeenExactlyOnce)
{
    EXPECT_EQ(linesOf("a\r\nb\rc\n\n\nd", 0), (std::vector<std::string>{"a", "b", "c", "d"}));
    const std::string output =
        "[Parsed_volumedetect_0 @ 0x55] max_volume: -3.5 dB\n"
        "size=N/A time=00:00:02.00 bitrate=N/A speed= 500x\r"
        "Error while decoding stream #0:0\n"
        "[Parsed_volumedetect_0 @ 0x55] histogram_3db: 5";  // no final newline
    for (std::size_t cut = 0; cut <= output.size(); ++cut) {
        int peaks = 0, progress = 0, errors = 0;
        auto lines = linesOf(output, cut);
        for (const std::string& line : lines) {
            peaks += peakGainText(line) == "3.5";
            progress += isProgressLine(line);
            errors += isErrorLine(line);
        }
        EXPECT_TRUE(peaks == 1 && progress == 1 && errors == 1) << "cut at " << cut;
        EXPECT_EQ(lines.back(), "[Parsed_volumedetect_0 @ 0x55] histogram_3db: 5");
    }
}

TEST(LineSplitter, AnEndlessLineIsHandedOverInBoundedPieces)
{
    std::vector<std::size_t> sizes;
    LineSplitter splitter;
    for (int i = 0; i < 200; ++i)
        splitter.feed(std::string(1000, 'x'),
                      [&](std::string_view line) { sizes.push_back(line.size()); });
    EXPECT_LE(splitter.pendingSize(), LineSplitter::kMaxLineLength);
    ASSERT_FALSE(sizes.empty());
    for (std::size_t size : sizes)
        EXPECT_EQ(size, LineSplitter::kMaxLineLength);
}

TEST(MaxVolume, RawTextAndGain)
{
    struct Row {
        std::string line, raw;
        std::optional<std::string> gain;
    };
    for (const Row& row : std::vector<Row>{
             {"[Parsed_volumedetect_0 @ 0x5581] max_volume: -3.5 dB", "-3.5", "3.5"},
             {"max_volume: 0.0 dB", "0.0", "0.0"},
             {"max_volume: -0.0 dB", "-0.0", "0.0"},
             {"max_volume: -12.25 dB", "-12.25", "12.25"},
             {"max_volume: 1.5 dB", "1.5", "-1.5"},  // above full scale: lowered
             {"max_volume: -inf dB", "-inf", std::nullopt},  // silent: no gain at all
             {"max_volume: -3.5", "", std::nullopt},
             {"max_volume: nan dB", "nan", std::nullopt},
             {"max_volume: -3. dB", "-3.", std::nullopt},
             {"mean_volume: -20.1 dB", "", std::nullopt},
         }) {
        EXPECT_EQ(maxVolumeText(row.line), row.raw) << row.line;
        EXPECT_EQ(peakGainText(row.line), row.gain) << row.line;
    }
}

TEST(Loudness, NamedSummariesInAnyOrder)
{
    const std::string src = "[ebur128@src1 @ 0x55d0] Summary:\n\n  Integrated loudness:\n    I:         -20.3 LUFS\n"
                            "    Threshold: -30.5 LUFS\n\n  Loudness range:\n    LRA:         0.0 LU\n";
    const std::string mix = "[ebur128@mix1 @ 0x55e1] Summary:\n  Integrated loudness:\n    I:  -21.8 LUFS\n"
                            "  Loudness range:\n    LRA:  0.0 LU\n\n  Sample peak:\n    Peak:  -6.9 dBFS\n";
    struct Row {
        std::string output;
        std::map<std::string, double> integrated;
        std::map<std::string, double> samplePeak = {};
    };
    for (const Row& row : std::vector<Row>{
             {mix + "[Parsed_volumedetect_0 @ 0x1] max_volume: -3.5 dB\n" + src, {{"mix1", -21.8}, {"src1", -20.3}},
              {{"mix1", -6.9}}},
             // Meters without a name, figures outside a summary or that are no number count for nothing.
             {"[Parsed_ebur128_0 @ 0x2] Summary:\n    I:  -9.8 LUFS\n    I:  -9.0 LUFS\n", {}},
             {"[ebur128@src2 @ 0x3] Summary:\n    I:   -inf LUFS\n    I:  -7.0 LUFS\n    Peak: -inf dBFS\n", {}},
             {"[ebur128@src3 @ 0x4] Summary:\n    I:  -7.0\n    Peak: -1.0\n", {}},
             {"[ebur128@src4 @ 0x5] t: 0.1 M: -9.8 S: -120.7 I: -9.8 LUFS\n", {}},
             {src + "[Parsed_ebur128_1 @ 0x6] Summary:\n    Peak:  -1.0 dBFS\n", {{"src1", -20.3}}},
         }) {
        LoudnessSummaries summaries;
        for (std::string_view line : linesOf(row.output, 0))
            readLoudnessLine(line, summaries);
        EXPECT_EQ(summaries.integrated, row.integrated) << row.output;
        EXPECT_EQ(summaries.samplePeak, row.samplePeak) << row.output;
    }
}

TEST(Progress, TimeTextsSecondsAndLabels)
{
    struct Row {
        std::string line;
        bool progress;
        std::optional<double> seconds;
    };
    for (const Row& row : std::vector<Row>{
             {"frame=  250 size=N/A time=01:00:10.04 bitrate=N/A speed= 200x", true, 3610.04},
             {"size=       0kB time=-00:00:00.02 bitrate=N/A", true, -0.02},
             {"size=N/A time=N/A bitrate=N/A speed=N/A", true, std::nullopt},
             {"size=    1024kB time=00:01:30.50", true, std::nullopt},
             {"size=  1kB bitrate=  93.0kbits/s time=00:01:30.50", true, std::nullopt},
             {"size=  1kB time=01:30.50 bitrate=1", true, std::nullopt},
             {"size=  1kB time=aa:bb:cc bitrate=1", true, std::nullopt},
             {"time=00:01:30.50 bitrate=  93.0kbits/s", false, std::nullopt},
         }) {
        EXPECT_EQ(isProgressLine(row.line), row.progress) << row.line;
        auto time = parseProgress(row.line);
        ASSERT_EQ(time.has_value(), row.seconds.has_value()) << row.line;
        if (time) {
            EXPECT_NEAR(time->elapsedSeconds, *row.seconds, 1e-9) << row.line;
        }
    }
    auto time = parseProgress("size=    1024kB time=00:01:30.50 bitrate=  93.0kbits/s");
    ASSERT_TRUE(time);
    EXPECT_DOUBLE_EQ(time->elapsedSeconds, 90.5);
    EXPECT_EQ(progress_math::processLabel(*time), "Process 00:01:30.50 ......");
    EXPECT_EQ(progress_math::prepareAudioDataLabel(*time), "Prepare Audio Data 00:01:30.50 ......");
}

TEST(ProgressMath, ConversionPositions)
{
    struct Row {
        double elapsed;
        std::int64_t durationUs;
        int index, items, position;
    };
    for (const Row& r : std::vector<Row>{
             {90.5, 180000000, 1, 4, 38},  // 100 × (90.5 / 180 + 1) / 4 = 37.57
             {30.0, 60000000, 1, 2, 75},
             {60.0, 60000000, 0, 1, 100},
             {30.0, 60000000, 0, 4, 12},  // 12.5 and 37.5 to the even neighbour
             {30.0, 60000000, 1, 4, 38},
             {5.0, -1, 2, 4, 50},  // unknown or sub-second duration: the file's start
             {0.4, 500000, 1, 4, 25},
             {1.9, 1900000, 0, 4, 25},  // truncated D = 1 s stays within the file's share
             {-0.02, 60000000, 0, 1, 0},
             {10.0, 60000000, 0, 0, 0},
         })
        EXPECT_EQ(progress_math::conversionPosition(r.elapsed, r.durationUs, r.index, r.items),
                  r.position)
            << r.elapsed << " s of " << r.durationUs << " us, file " << r.index << " of " << r.items;
    EXPECT_EQ(progress_math::neverBack(75, 40), 75);
}

TEST(ProgressMath, StepsRoundHalvesToEvenAndNeverSnapToTheEnd)
{
    struct Row {
        int items, steps, end;
    };
    for (const Row& r :
         std::vector<Row>{{3, 3, 99}, {8, 8, 96}, {2, 2, 100}, {7, 7, 98}, {200, 200, 0}, {0, 3, 0}}) {
        int position = 0;
        for (int i = 0; i < r.steps; ++i)
            position = progress_math::steppedPosition(position, 100, r.items);
        EXPECT_EQ(position, r.end) << r.items << " files";
    }
    EXPECT_EQ(progress_math::steppedPosition(99, 100, 3), 100);
    EXPECT_EQ(progress_math::roundHalfEven(-2.5), -2);
}

TEST(ToolMessages, ErrorReportAndFinishedRunMessage)
{
    ToolErrorReport errors;
    for (std::string line : {"error while opening", "Error:", "   ", "Error while decoding stream #0:0"})
        errors.addLine(line);
    EXPECT_EQ(errors.errorText(), "### Error while decoding stream #0:0   ");
    ToolErrorReport quiet;
    for (int i = 0; i < 15; ++i)
        quiet.addLine("line " + std::to_string(i));
    quiet.addLine("/x/in.wav: No such file or directory");
    EXPECT_FALSE(quiet.hasErrorText());
    ASSERT_EQ(quiet.lastLines().size(), ToolErrorReport::kKeptLines);
    EXPECT_EQ(quiet.lastLines().front(), "line 6");

    using Outcome = ToolRunResult::Outcome;
    auto result = [](Outcome outcome, int status = 0) {
        ToolRunResult r;
        r.outcome = outcome;
        r.toolPath = "/w/qvx/client123";
        r.exitStatus = status;
        r.startError = "Permission denied";
        return r;
    };
    using tool_messages::finishedRunMessage;
    EXPECT_EQ(finishedRunMessage(result(Outcome::Succeeded), errors, true), "");
    EXPECT_EQ(finishedRunMessage(result(Outcome::Succeeded), errors, false),
              "### Error while decoding stream #0:0");
    EXPECT_EQ(finishedRunMessage(result(Outcome::Succeeded), quiet, false), "");
    EXPECT_EQ(finishedRunMessage(result(Outcome::Cancelled), errors, false), "");
    EXPECT_EQ(finishedRunMessage(result(Outcome::StartFailed), quiet, false),
              "Cannot start /w/qvx/client123: Permission denied");
    // A failing exit is a failure even after progress lines.
    EXPECT_EQ(finishedRunMessage(result(Outcome::ExitStatus, 1), errors, true),
              "### Error while decoding stream #0:0\n/w/qvx/client123 ended with exit status 1.");
    EXPECT_EQ(finishedRunMessage(result(Outcome::ExitStatus, 1), quiet, true).substr(0, 7), "line 6\n");

    // A converter that could not finish its output exits 0 after its progress lines; a line
    // cut mid-marker is no such word.
    for (const auto& [last, failed] : {std::pair{"Error writing trailer of /o/.a.mp3.part: No space left on device", true},
                                       std::pair{"Error closing file /o/.a.mp3.part: No space left on device", true},
                                       std::pair{"Error writing tra", false}}) {
        ToolErrorReport full;
        full.addLine("size=      60kB time=00:00:03.50 bitrate= 140.0kbits/s speed=50x");
        full.addLine(last);
        EXPECT_EQ(full.outputFailed(), failed) << last;
        EXPECT_EQ(finishedRunMessage(result(Outcome::Succeeded), full, true), failed ? "### " + std::string(last) : "");
    }
    ToolRunResult hung = result(Outcome::Stalled);
    hung.stalledSeconds = 75;
    EXPECT_TRUE(hung.failed());
    EXPECT_EQ(finishedRunMessage(hung, quiet, true), "/w/qvx/client123 stopped responding: no progress for 75 s.");
}

TEST(ToolContracts, NormalizerArgumentsKeepTheFolderAsItIsWithItsPatternCharactersEscaped)
{
    using tool_contracts::NormalizerMode;
    using Args = std::vector<std::string>;
    const tool_contracts::NormalizerLevels standard;
    const tool_contracts::NormalizerLevels atscLossyLinear{tool_contracts::kLoudnessTargets[4], false, true};
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::Singularly, standard, "/Opt/My App/tmp/"),
              (Args{"/Opt/My App/tmp/*.wav"}));
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::WeightedAverage, atscLossyLinear, "/Opt/tmp"),
              (Args{"-bv", "--target=-24", "--ceiling=-3", "--limiter=off", "/Opt/tmp/*.wav"}));
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::ArithmeticAverage, standard, "/a[x]?*\\b/tmp").back(),
              "/a\\[x\\]\\?\\*\\\\b/tmp/*.wav");
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::Collectively, standard, ""), (Args{"-b"}));
    const tool_contracts::NormalizerLevels lossy{tool_contracts::kLoudnessTargets[0], true, true};
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::Singularly, lossy, "/t"), (Args{"--ceiling=-2", "/t/*.wav"}));
}

// A measuring request reads back as it was written, whatever bytes the name holds; a damaged
// one is refused.
TEST(ToolContracts, MeterRequestsReadBackAndDamagedOnesAreRefused)
{
    using tool_contracts::RawSamples;
    const tool_contracts::MeasureInput awkward{"/m/a\tb\nc\\ d", 1, 6, 48000, 0x60f, RawSamples::S16};
    const std::string record = tool_contracts::meterRequest(awkward);
    EXPECT_EQ(record, std::string("1\t6\t48000\t1551\ts16\t/m/a\tb\nc\\ d\0", 31));
    const auto read = tool_contracts::parseMeterRequest(std::string_view(record).substr(0, record.size() - 1));
    ASSERT_TRUE(read);
    EXPECT_EQ(std::tie(read->source, read->audioStream, read->channels, read->sampleRate, read->channelMask, read->samples),
              std::tie(awkward.source, awkward.audioStream, awkward.channels, awkward.sampleRate, awkward.channelMask,
                       awkward.samples));
    for (const char* bad : {"", "0\t2\t44100\t3\tf32\t", "0\t2\t44100\t3\tf32\trelative.mp3", "0\t2\t44100\t3\tf64\t/a",
                            "-1\t2\t44100\t3\tf32\t/a", "0\t0\t44100\t3\tf32\t/a", "0\t65\t44100\t3\tf32\t/a", "0\t2\t15\t3\tf32\t/a", "0\t2\t4x100\t3\tf32\t/a",
                            "0\t2\t44100\t4294967296\tf32\t/a", "0\t2\t44100\tf32\t/a", " 0\t2\t44100\t3\tf32\t/a"})
        EXPECT_FALSE(tool_contracts::parseMeterRequest(bad)) << bad;
}
