#include "analysis/LineSplitter.h"
#include "analysis/ProgressMath.h"
#include "analysis/ToolErrorReport.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunMessages.h"
#include "tools/ToolContracts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
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

TEST(LineSplitter, CutsAtCarriageReturnsAndNewlinesAndDropsEmptyLines)
{
    EXPECT_EQ(linesOf("a\r\nb\rc\n\n\nd", 0), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(linesOf("\r\n\r\n", 2).empty());
}

TEST(LineSplitter, AMarkerCutAtAnyByteIsSeenExactlyOnce)
{
    const std::string output =
        "Stream mapping:\n"
        "[Parsed_volumedetect_0 @ 0x55] n_samples: 88200\n"
        "[Parsed_volumedetect_0 @ 0x55] max_volume: -3.5 dB\n"
        "size=N/A time=00:00:02.00 bitrate=N/A speed= 500x\r"
        "Error while decoding stream #0:0\n"
        "[Parsed_volumedetect_0 @ 0x55] histogram_3db: 5";  // no final newline
    for (std::size_t cut = 0; cut <= output.size(); ++cut) {
        int peaks = 0, progress = 0, errors = 0;
        std::optional<std::string> gain;
        for (const std::string& line : linesOf(output, cut)) {
            if (isMaxVolumeLine(line)) {
                ++peaks;
                gain = peakGainText(line);
            }
            progress += isProgressLine(line);
            errors += isErrorLine(line);
        }
        EXPECT_EQ(peaks, 1) << "cut at " << cut;
        EXPECT_EQ(gain, "3.5") << "cut at " << cut;
        EXPECT_EQ(progress, 1) << "cut at " << cut;
        EXPECT_EQ(errors, 1) << "cut at " << cut;
        EXPECT_EQ(linesOf(output, cut).back(), "[Parsed_volumedetect_0 @ 0x55] histogram_3db: 5");
    }
}

TEST(LineSplitter, AnEndlessLineIsHandedOverInBoundedPieces)
{
    std::vector<std::size_t> sizes;
    LineSplitter splitter;
    std::string chunk(1000, 'x');
    for (int i = 0; i < 200; ++i)
        splitter.feed(chunk, [&](std::string_view line) { sizes.push_back(line.size()); });
    EXPECT_LE(splitter.pendingSize(), LineSplitter::kMaxLineLength);
    ASSERT_FALSE(sizes.empty());
    for (std::size_t size : sizes)
        EXPECT_EQ(size, LineSplitter::kMaxLineLength);
}

TEST(MaxVolume, RawTextAndGain)
{
    struct Row {
        std::string line;
        std::string raw;
        std::optional<std::string> gain;
    };
    const std::vector<Row> rows = {
        {"[Parsed_volumedetect_0 @ 0x5581] max_volume: -3.5 dB", "-3.5", "3.5"},
        {"max_volume: 0.0 dB", "0.0", "0.0"},
        {"max_volume: -0.0 dB", "-0.0", "0.0"},
        {"max_volume: -12.25 dB", "-12.25", "12.25"},
        // Above full scale: lowered, never raised further.
        {"max_volume: 1.5 dB", "1.5", "-1.5"},
        {"max_volume: +2.0 dB", "+2.0", "-2.0"},
        // A silent file reports -inf: no gain at all.
        {"max_volume: -inf dB", "-inf", std::nullopt},
        {"max_volume: -3.5", "", std::nullopt},
        {"max_volume: dB", "", std::nullopt},
        {"max_volume: nan dB", "nan", std::nullopt},
        {"max_volume: 1e3 dB", "1e3", std::nullopt},
        {"max_volume: -3. dB", "-3.", std::nullopt},
        {"mean_volume: -20.1 dB", "", std::nullopt},
        {"Max_volume: -3.5 dB", "", std::nullopt},
        {"", "", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(maxVolumeText(row.line), row.raw) << row.line;
        EXPECT_EQ(peakGainText(row.line), row.gain) << row.line;
    }
}

TEST(Progress, TimeTextsAndSeconds)
{
    struct Row {
        std::string line;
        bool progress;
        std::optional<ProgressTime> time;
    };
    const std::vector<Row> rows = {
        {"size=    1024kB time=00:01:30.50 bitrate=  93.0kbits/s", true,
         ProgressTime{"00", "01", "30.50", 90.5}},
        {"frame=  250 fps=0.0 q=-0.0 size=N/A time=01:00:10.04 bitrate=N/A speed= 200x", true,
         ProgressTime{"01", "00", "10.04", 3610.04}},
        {"size=       0kB time=-00:00:00.02 bitrate=N/A", true,
         ProgressTime{"-00", "00", "00.02", -0.02}},
        {"size=N/A time=N/A bitrate=N/A speed=N/A", true, std::nullopt},
        {"size=    1024kB time=00:01:30.50", true, std::nullopt},
        {"size=  1kB bitrate=  93.0kbits/s time=00:01:30.50", true, std::nullopt},
        {"size=  1kB time=01:30.50 bitrate=1", true, std::nullopt},
        {"size=  1kB time=aa:bb:cc bitrate=1", true, std::nullopt},
        {"size=  1kB time=: : bitrate=1", true, std::nullopt},
        {"time=00:01:30.50 bitrate=  93.0kbits/s", false, std::nullopt},
        {"size=    1024kB", false, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(isProgressLine(row.line), row.progress) << row.line;
        auto time = parseProgress(row.line);
        ASSERT_EQ(time.has_value(), row.time.has_value()) << row.line;
        if (!time)
            continue;
        EXPECT_EQ(time->hours, row.time->hours);
        EXPECT_EQ(time->minutes, row.time->minutes);
        EXPECT_EQ(time->seconds, row.time->seconds);
        EXPECT_NEAR(time->elapsedSeconds, row.time->elapsedSeconds, 1e-9) << row.line;
    }
}

TEST(ProgressMath, ConversionPositions)
{
    struct Row {
        double elapsed;
        std::int64_t durationUs;
        int index, items, position;
    };
    const std::vector<Row> rows = {
        {90.5, 180000000, 1, 4, 38},  // 100 × (90.5 / 180 + 1) / 4 = 37.57
        {30.0, 60000000, 1, 2, 75},
        {60.0, 60000000, 0, 1, 100},
        {0.0, 60000000, 0, 8, 0},
        {30.0, 60000000, 0, 4, 12},   // 12.5 to the even neighbour
        {30.0, 60000000, 1, 4, 38},   // 37.5 to the even neighbour
        // Unknown or sub-second duration: the file's start, no division by zero.
        {5.0, -1, 2, 4, 50},
        {0.4, 500000, 1, 4, 25},
        // A truncated duration (1.9 s gives 1 s) stays within the file's share.
        {1.9, 1900000, 0, 4, 25},
        {-0.02, 60000000, 0, 1, 0},
        {10.0, 60000000, 0, 0, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(progress_math::conversionPosition(r.elapsed, r.durationUs, r.index, r.items), r.position)
            << r.elapsed << " s of " << r.durationUs << " us, file " << r.index << " of " << r.items;
}

TEST(ProgressMath, StepsRoundHalvesToEvenAndNeverSnapToTheEnd)
{
    struct Row {
        int items, steps, end;
    };
    for (const Row& r : std::vector<Row>{{3, 3, 99}, {8, 8, 96}, {1, 1, 100}, {2, 2, 100},
                                         {7, 7, 98}, {200, 200, 0}, {0, 3, 0}}) {
        int position = 0;
        for (int i = 0; i < r.steps; ++i)
            position = progress_math::steppedPosition(position, 100, r.items);
        EXPECT_EQ(position, r.end) << r.items << " files";
    }
    EXPECT_EQ(progress_math::progressStep(100, 8), 12);
    EXPECT_EQ(progress_math::steppedPosition(99, 100, 3), 100);  // kept within the range
    EXPECT_EQ(progress_math::roundHalfEven(-2.5), -2);
    EXPECT_EQ(progress_math::roundHalfEven(3.5), 4);
    EXPECT_EQ(progress_math::neverBack(75, 40), 75);
}

TEST(ProgressMath, Labels)
{
    auto time = parseProgress("size=    1024kB time=00:01:30.50 bitrate=  93.0kbits/s");
    ASSERT_TRUE(time);
    EXPECT_EQ(progress_math::processLabel(*time), "Process 00:01:30.50 ......");
    EXPECT_EQ(progress_math::prepareAudioDataLabel(*time), "Prepare Audio Data 00:01:30.50 ......");
}

TEST(ErrorReport, GathersOnlyCapitalErrorWithBlankAndKeepsTheLastLines)
{
    ToolErrorReport report;
    for (std::string line : {"error while opening", "Error:", "Errors found", "   ", "\t"})
        report.addLine(line);
    EXPECT_FALSE(report.hasErrorText());
    report.addLine("Error opening input file x.wav.");
    EXPECT_EQ(report.errorText(), "### Error opening input file x.wav.   ");
    EXPECT_TRUE(report.hasErrorText());
    for (int i = 0; i < 15; ++i)
        report.addLine("line " + std::to_string(i));
    auto last = report.lastLines();
    ASSERT_EQ(last.size(), ToolErrorReport::kKeptLines);
    EXPECT_EQ(last.front(), "line 5");
    EXPECT_EQ(last.back(), "line 14");
}

TEST(RunMessages, FinishedRunMessageByOutcome)
{
    using Outcome = ToolRunResult::Outcome;
    ToolErrorReport errors;
    errors.addLine("Error while decoding stream #0:0");
    ToolErrorReport quiet;
    quiet.addLine("size=N/A time=00:00:01.00 bitrate=N/A");
    quiet.addLine("/x/in.wav: No such file or directory");

    auto result = [](Outcome outcome, int status = 0, int signal = 0) {
        ToolRunResult r;
        r.outcome = outcome;
        r.toolPath = "/w/qvx/client123";
        r.exitStatus = status;
        r.signalNumber = signal;
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
    EXPECT_EQ(finishedRunMessage(result(Outcome::ExitStatus, 1), quiet, true),
              "size=N/A time=00:00:01.00 bitrate=N/A\n/x/in.wav: No such file or directory\n"
              "/w/qvx/client123 ended with exit status 1.");
    EXPECT_EQ(finishedRunMessage(result(Outcome::ExitStatus, 1), errors, true),
              "### Error while decoding stream #0:0\n/w/qvx/client123 ended with exit status 1.");
    EXPECT_NE(finishedRunMessage(result(Outcome::Signalled, 0, 11), quiet, true)
                  .find("/w/qvx/client123 was ended by signal 11"),
              std::string::npos);
}

TEST(ToolContracts, NormalizerArgumentsKeepTheFolderAsItIs)
{
    using tool_contracts::NormalizerMode;
    using Args = std::vector<std::string>;
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::Singularly, "/Opt/My App/tmp/"),
              (Args{"/Opt/My App/tmp/*.wav"}));
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::Collectively, "/Opt/tmp"),
              (Args{"-b", "/Opt/tmp/*.wav"}));
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::WeightedAverage, "/t/"),
              (Args{"-bv", "/t/*.wav"}));
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::ArithmeticAverage, "/t/"),
              (Args{"-m", "/t/*.wav"}));
    EXPECT_EQ(tool_contracts::normalizerArgs(NormalizerMode::Collectively, ""), (Args{"-b"}));
}
