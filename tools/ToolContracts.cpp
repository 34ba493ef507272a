#include "tools/ToolContracts.h"

#include "SampleStreamMeter.h"

#include <charconv>
#include <climits>
#include <cstdint>

namespace tool_contracts {

std::string_view normalizerFlag(NormalizerMode mode)
{
    switch (mode) {
    case NormalizerMode::Singularly: return "";
    case NormalizerMode::Collectively: return "-b";
    case NormalizerMode::WeightedAverage: return "-bv";
    case NormalizerMode::ArithmeticAverage: return "-m";
    }
    return "";
}

namespace {

// Locale-independent: the program runs under the user's locale, the tool reads a dot.
std::string decibels(double value)
{
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// The mode flag and the levels that differ from what the normaliser does unasked.
std::vector<std::string> levelArgs(NormalizerMode mode, const NormalizerLevels& levels)
{
    std::vector<std::string> args;
    std::string_view flag = normalizerFlag(mode);
    if (!flag.empty())
        args.emplace_back(flag);
    // What the normaliser does unasked is left unsaid, so that its plain command lines hold.
    const NormalizerLevels unasked;
    const double ceiling = levels.target.ceilingDbtp - (levels.lossyOutput ? kLossyMarginDb : 0.0);
    if (levels.target.lufs != unasked.target.lufs)
        args.push_back("--target=" + decibels(levels.target.lufs));
    if (ceiling != unasked.target.ceilingDbtp)
        args.push_back("--ceiling=" + decibels(ceiling));
    if (levels.limitPeaks != unasked.limitPeaks)
        args.emplace_back(levels.limitPeaks ? "--limiter=on" : "--limiter=off");
    return args;
}

// The normaliser expands patterns itself: a path's own pattern characters are escaped so that
// they stand for themselves.
std::string escapedPattern(const std::string& path)
{
    std::string pattern;
    for (char c : path) {
        if (c == '\\' || c == '*' || c == '?' || c == '[' || c == ']')
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

std::vector<std::string> normalizerArgs(NormalizerMode mode, const NormalizerLevels& levels,
                                        const std::string& scratchFolder)
{
    std::vector<std::string> args = levelArgs(mode, levels);
    // Without a folder the pattern would be expanded against the root or the current folder.
    if (scratchFolder.empty())
        return args;
    // Only "*.wav" matches the copies.
    std::string pattern = escapedPattern(scratchFolder);
    if (pattern.back() != '/')
        pattern += '/';
    pattern += "*.wav";
    args.push_back(std::move(pattern));
    return args;
}

std::vector<std::string> normalizerSetArgs(NormalizerMode mode, const NormalizerLevels& levels,
                                           const std::vector<std::string>& copies)
{
    std::vector<std::string> args = levelArgs(mode, levels);
    for (const std::string& copy : copies)
        args.push_back(escapedPattern(copy));
    return args;
}

std::vector<std::string> peakMeasurementArgs(const std::string& source)
{
    return {"-i", source, "-af", "volumedetect", "-f", "null", "nul"};
}

std::string meterRequest(const MeasureInput& input)
{
    std::string record = std::to_string(input.audioStream) + '\t' + std::to_string(input.channels) + '\t'
                         + std::to_string(input.sampleRate) + '\t' + std::to_string(input.channelMask) + '\t'
                         + (input.samples == RawSamples::S16 ? "s16" : "f32") + '\t' + input.source;
    record.push_back('\0');
    return record;
}

namespace {

template <typename Number>
bool readNumber(std::string_view& rest, Number low, Number high, Number& out)
{
    const std::size_t tab = rest.find('\t');
    if (tab == std::string_view::npos)
        return false;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + tab, out);
    rest.remove_prefix(tab + 1);
    return error == std::errc() && end == rest.data() - 1 && out >= low && out <= high;
}

}  // namespace

std::optional<MeasureInput> parseMeterRequest(std::string_view record)
{
    MeasureInput input;
    std::string_view rest = record;
    constexpr int kMaxChannels = SampleStreamMeter::kMaxChannels;
    constexpr int kMinRate = SampleStreamMeter::kMinRate, kMaxRate = SampleStreamMeter::kMaxRate;
    if (!readNumber(rest, 0, INT_MAX, input.audioStream) || !readNumber(rest, 1, kMaxChannels, input.channels)
        || !readNumber(rest, kMinRate, kMaxRate, input.sampleRate)
        || !readNumber(rest, std::uint32_t{0}, UINT32_MAX, input.channelMask))
        return std::nullopt;
    if (rest.substr(0, 4) == "s16\t")
        input.samples = RawSamples::S16;
    else if (rest.substr(0, 4) != "f32\t")
        return std::nullopt;
    rest.remove_prefix(4);
    if (rest.empty() || rest.front() != '/' || rest.find('\0') != std::string_view::npos)
        return std::nullopt;
    input.source = rest;
    return input;
}

}  // namespace tool_contracts
