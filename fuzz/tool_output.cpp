// The converter's and the normaliser's console output, arriving in reads cut at any byte,
// through the line splitter and every rule that reads a line, as the stage dialogs use them.
#include "FuzzCheck.h"

#include "analysis/LineSplitter.h"
#include "analysis/ProgressMath.h"
#include "analysis/ToolErrorReport.h"
#include "analysis/ToolOutputParsers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int kBarMax = 100;

bool isPlainDecimal(std::string_view text)
{
    if (text.empty() || text.find_first_not_of("-0123456789.") != std::string_view::npos)
        return false;
    return text.find('-', 1) == std::string_view::npos;
}

double numberOf(std::string_view text)
{
    double value = NAN;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    FUZZ_CHECK(error == std::errc() && end == text.data() + text.size());
    return value;
}

void checkLine(std::string_view line)
{
    FUZZ_CHECK(!line.empty() && line.size() <= LineSplitter::kMaxLineLength);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);

    // The peak cell and later the volume filter get this text: a plain number, the
    // negative of the level the converter printed.
    if (const auto gain = tool_output::peakGainText(line)) {
        FUZZ_CHECK(tool_output::isMaxVolumeLine(line));
        FUZZ_CHECK(isPlainDecimal(*gain) && gain->size() <= line.size());
        const double level = numberOf(tool_output::maxVolumeText(line));
        const double value = numberOf(*gain);
        FUZZ_CHECK(value == -level || (value == 0 && level == 0));
        FUZZ_CHECK(!(value == 0 && gain->front() == '-'));
    }

    if (const auto time = tool_output::parseProgress(line)) {
        FUZZ_CHECK(tool_output::isProgressLine(line));
        FUZZ_CHECK(!std::isnan(time->elapsedSeconds));
        for (const std::string* part : {&time->hours, &time->minutes, &time->seconds})
            FUZZ_CHECK(!part->empty() && line.find(*part) != std::string_view::npos);
        FUZZ_CHECK(progress_math::processLabel(*time).starts_with("Process "));
    }
}

// One stage's bar, fed the way its dialog feeds it.
struct Bars {
    std::int64_t durationUs;
    int fileIndex;
    int itemCount;
    int conversion = 0;
    int normaliser = 0;

    void onLine(std::string_view line)
    {
        if (const auto time = tool_output::parseProgress(line)) {
            const int position = progress_math::conversionPosition(time->elapsedSeconds, durationUs,
                                                                   fileIndex, itemCount, kBarMax);
            FUZZ_CHECK(position >= 0 && position <= kBarMax);
            const int shown = progress_math::neverBack(conversion, position);
            FUZZ_CHECK(shown >= conversion && shown <= kBarMax);
            conversion = shown;
        }
        if (tool_output::isNormalizerMarkerLine(line)) {
            const int next = progress_math::steppedPosition(normaliser, kBarMax, itemCount);
            FUZZ_CHECK(next >= normaliser && next <= kBarMax);
            normaliser = next;
        }
    }
};

// The input with the terminators taken out: what the lines must add up to.
std::string withoutTerminators(const std::vector<std::string>& chunks)
{
    std::string text;
    for (const std::string& chunk : chunks)
        for (char c : chunk)
            if (c != '\r' && c != '\n')
                text += c;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Bars bars{input.ConsumeIntegral<std::int64_t>(), input.ConsumeIntegral<int>(),
              input.ConsumeIntegralInRange<int>(-1, 5000)};
    // A long run of one byte makes lines beyond the longest the splitter holds.
    const std::size_t filler = input.ConsumeBool() ? LineSplitter::kMaxLineLength : 0;
    std::vector<std::string> chunks;
    while (input.remaining_bytes() > 0)
        chunks.push_back(input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(1, 512)));
    if (filler && !chunks.empty())
        chunks.insert(chunks.begin() + chunks.size() / 2, std::string(filler + 7, 'x'));

    LineSplitter splitter;
    ToolErrorReport report;
    std::string joined;
    std::size_t errorLines = 0;
    auto onLine = [&](std::string_view line) {
        checkLine(line);
        joined += line;
        report.addLine(line);
        errorLines += tool_output::isErrorLine(line);
        bars.onLine(line);
    };
    for (const std::string& chunk : chunks) {
        splitter.feed(chunk, onLine);
        FUZZ_CHECK(splitter.pendingSize() < LineSplitter::kMaxLineLength);
    }
    splitter.finish(onLine);
    FUZZ_CHECK(splitter.pendingSize() == 0);

    // Nothing is lost, doubled or reordered, whatever the cuts.
    FUZZ_CHECK(joined == withoutTerminators(chunks));
    FUZZ_CHECK(report.lastLines().size() <= ToolErrorReport::kKeptLines);
    FUZZ_CHECK((errorLines > 0) == !report.errorText().empty());
    return 0;
}
