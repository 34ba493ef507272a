#include "tools/ToolContracts.h"

#include <charconv>

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

std::vector<std::string> measureDecodeArgs(const MeasureInput& input)
{
    const bool s16 = input.samples == RawSamples::S16;
    return {"-nostdin", "-hide_banner", "-loglevel", "error", "-stats", "-i", input.source,
            "-map", "0:a:" + std::to_string(input.audioStream), "-ac", std::to_string(input.channels),
            "-ar", std::to_string(input.sampleRate), "-c:a", s16 ? "pcm_s16le" : "pcm_f32le",
            "-f", s16 ? "s16le" : "f32le", "pipe:1"};
}

std::vector<std::string> measureArgs(const MeasureInput& input)
{
    return {"--measure", input.samples == RawSamples::S16 ? "--format=s16le" : "--format=f32le",
            "--channels=" + std::to_string(input.channels), "--rate=" + std::to_string(input.sampleRate),
            "--layout=" + std::to_string(input.channelMask), "-"};
}

}  // namespace tool_contracts
