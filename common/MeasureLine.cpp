#include "MeasureLine.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace measure_line {

namespace {

std::string fixed(double value, int decimals)
{
    char text[512];  // any double in fixed notation
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

// The shortest figure that reads back as the very same double.
std::string exact(double value)
{
    char text[512];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
    return std::string(text, end);
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            return out;
        start = tab + 1;
    }
}

// The value of "key=value", or nothing when the field has another key.
std::optional<std::string_view> valueOf(std::string_view field, std::string_view key)
{
    if (field.size() <= key.size() || field.substr(0, key.size()) != key || field[key.size()] != '=')
        return std::nullopt;
    return field.substr(key.size() + 1);
}

// A decimal number, or -infinity where a level may be silent.
std::optional<double> number(std::optional<std::string_view> text, bool silentAllowed)
{
    if (!text)
        return std::nullopt;
    double value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || stop != end || std::isnan(value) || value == HUGE_VAL)
        return std::nullopt;
    if (std::isinf(value) && !silentAllowed)
        return std::nullopt;
    return value;
}

}  // namespace

std::string format(const Measurement& m)
{
    return std::string(kMarker) + "\tI=" + fixed(m.integratedLufs, 4) + "\tLRA=" + fixed(m.rangeLu, 2) +
           "\tTP=" + exact(m.truePeakDbtp) + "\tSP=" + exact(m.samplePeakDbfs) +
           "\tT=" + exact(m.seconds) + "\tblocks=" + m.blocks.text();
}

std::string formatFile(const std::string& file, const Measurement& measurement)
{
    return file + "\t" + format(measurement);
}

std::optional<FileMeasurement> parseFile(std::string_view line)
{
    // The last marker: a file's name may hold anything but a line break.
    std::string marker(1, '\t');
    marker.append(kMarker).push_back('\t');
    const std::size_t at = line.rfind(marker);
    if (at == std::string_view::npos || at == 0)
        return std::nullopt;
    std::optional<Measurement> measurement = parse(line.substr(at + 1));
    if (!measurement)
        return std::nullopt;
    return FileMeasurement{std::string(line.substr(0, at)), std::move(*measurement)};
}

std::optional<Measurement> parse(std::string_view line)
{
    const std::vector<std::string_view> f = fields(line);
    if (f.size() != 7 || f[0] != kMarker)
        return std::nullopt;
    const auto lufs = number(valueOf(f[1], "I"), true);
    const auto range = number(valueOf(f[2], "LRA"), false);
    const auto truePeak = number(valueOf(f[3], "TP"), true);
    const auto samplePeak = number(valueOf(f[4], "SP"), true);
    const auto seconds = number(valueOf(f[5], "T"), false);
    const auto blocksText = valueOf(f[6], "blocks");
    if (!lufs || !range || !truePeak || !samplePeak || !seconds || !blocksText || *range < 0 || *seconds < 0)
        return std::nullopt;
    std::optional<BlockHistogram> blocks = BlockHistogram::fromText(*blocksText);
    if (!blocks)
        return std::nullopt;
    // The figure is printed to 0.0001 LU; its histogram gives the very figure the meter had,
    // so that a gain planned from it is the gain the normaliser takes.
    const double fromBlocks = blocks->integratedLoudness();
    if (std::isinf(*lufs) != std::isinf(fromBlocks) || (!std::isinf(*lufs) && std::fabs(*lufs - fromBlocks) > 0.001))
        return std::nullopt;
    return Measurement{fromBlocks, *range, *truePeak, *samplePeak, *seconds, std::move(*blocks)};
}

}  // namespace measure_line
