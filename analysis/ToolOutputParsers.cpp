#include "analysis/ToolOutputParsers.h"

#include "tools/ToolContracts.h"

#include <charconv>
#include <cmath>

namespace tool_output {
namespace {

using namespace tool_contracts;

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number as the converter prints levels: [sign] digits [. digits].
bool isPlainDecimal(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    std::size_t digitsStart = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    if (i == digitsStart)
        return false;
    if (i < text.size() && text[i] == '.') {
        std::size_t fractionStart = ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        if (i == fractionStart)
            return false;
    }
    return i == text.size();
}

// Reads the whole text as a finite number with "." as decimal point (std::from_chars ignores
// the locale).
std::optional<double> decimalNumber(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

std::string_view trimmed(std::string_view text)
{
    auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isMaxVolumeLine(std::string_view line) { return contains(line, kMaxVolumeMarker); }

std::string maxVolumeText(std::string_view line)
{
    std::size_t marker = line.find(kMaxVolumeMarker);
    if (marker == std::string_view::npos)
        return {};
    std::string_view rest = line.substr(marker + kMaxVolumeMarker.size());
    std::size_t unit = rest.find("dB");
    if (unit == std::string_view::npos)
        return {};
    return std::string(trimmed(rest.substr(0, unit)));
}

std::optional<std::string> peakGainText(std::string_view line)
{
    std::string level = maxVolumeText(line);
    if (!isPlainDecimal(level))
        return std::nullopt;
    std::string_view digits = level;
    bool negative = digits.front() == '-';
    if (digits.front() == '-' || digits.front() == '+')
        digits.remove_prefix(1);
    // Zero has no sign: "-0.0" would read as a cut.
    if (digits.find_first_not_of("0.") == std::string_view::npos)
        return std::string(digits);
    if (negative)
        return std::string(digits);
    std::string flipped = "-";
    return flipped.append(digits);
}

bool isProgressLine(std::string_view line)
{
    return contains(line, kSizeMarker) && contains(line, kTimeMarker);
}

std::optional<ProgressTime> parseProgress(std::string_view line)
{
    if (!isProgressLine(line))
        return std::nullopt;
    std::size_t timeStart = line.find(kTimeMarker) + kTimeMarker.size();
    std::size_t bitrate = line.find(kBitrateMarker, timeStart);
    if (bitrate == std::string_view::npos)
        return std::nullopt;
    std::string_view time = trimmed(line.substr(timeStart, bitrate - timeStart));

    std::size_t firstColon = time.find(':');
    if (firstColon == std::string_view::npos)
        return std::nullopt;
    std::size_t secondColon = time.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return std::nullopt;
    std::string_view hours = time.substr(0, firstColon);
    std::string_view minutes = time.substr(firstColon + 1, secondColon - firstColon - 1);
    std::string_view seconds = time.substr(secondColon + 1);

    auto h = decimalNumber(hours);
    auto m = decimalNumber(minutes);
    auto s = decimalNumber(seconds);
    if (!h || !m || !s)
        return std::nullopt;
    // A time before the start is printed as "-00:00:00.02": the sign belongs to the whole.
    double magnitude = std::fabs(*h) * 3600 + *m * 60 + *s;
    double elapsed = hours.front() == '-' ? -magnitude : magnitude;
    return ProgressTime{std::string(hours), std::string(minutes), std::string(seconds), elapsed};
}

bool isErrorLine(std::string_view line) { return contains(line, kErrorMarker); }

bool isWriteFailureLine(std::string_view line)
{
    return contains(line, kTrailerFailedMarker) || contains(line, kCloseFailedMarker);
}

std::string errorEntry(std::string_view line) { return "### " + std::string(line) + "   "; }

namespace {

// The figure of a summary line "<label>  <figure> <unit>", when it is a plain decimal number.
std::optional<double> summaryFigure(std::string_view text, std::string_view label, std::string_view unit)
{
    std::string_view figure = text.substr(label.size());
    if (figure.size() < unit.size() || figure.substr(figure.size() - unit.size()) != unit)
        return std::nullopt;
    figure = trimmed(figure.substr(0, figure.size() - unit.size()));
    return isPlainDecimal(figure) ? decimalNumber(figure) : std::nullopt;
}

}  // namespace

void readLoudnessLine(std::string_view line, LoudnessSummaries& summaries)
{
    static constexpr std::string_view kMeter = "[ebur128@";
    static constexpr std::string_view kSummary = "] Summary:";
    static constexpr std::string_view kIntegrated = "I:";
    static constexpr std::string_view kPeak = "Peak:";
    if (contains(line, kSummary)) {
        // Only named meters count; a summary of another ends the one before.
        const std::size_t at = line.find(kMeter);
        const std::string_view rest = at == std::string_view::npos ? std::string_view() : line.substr(at + kMeter.size());
        summaries.open = std::string(rest.substr(0, rest.find_first_of(" ]")));
        summaries.integratedRead = false;
        return;
    }
    const std::string_view text = trimmed(line);
    if (summaries.open.empty())
        return;
    // The first figure of each kind in a summary is the meter's.
    if (text.substr(0, kIntegrated.size()) == kIntegrated && !summaries.integratedRead) {
        summaries.integratedRead = true;
        if (const std::optional<double> value = summaryFigure(text, kIntegrated, "LUFS"))
            summaries.integrated[summaries.open] = *value;
    } else if (text.substr(0, kPeak.size()) == kPeak) {
        if (const std::optional<double> value = summaryFigure(text, kPeak, "dBFS"))
            summaries.samplePeak.try_emplace(summaries.open, *value);
        summaries.open.clear();
    }
}

bool isNormalizerMarkerLine(std::string_view line)
{
    return contains(line, kAdjustingMarker) || contains(line, kNotAdjustingMarker);
}

}  // namespace tool_output
