#include "tools/ToolContracts.h"

#include "app/ProgramFolders.h"
#include "conversion/ContainerTable.h"

#include <charconv>

namespace tool_contracts {

std::string converterPath() { return program_folders::converterPath(); }
std::string normalizerPath() { return program_folders::normalizerPath(); }

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

bool isLossyExtension(std::string_view extension) { return !container_table::writesLossless(extension); }

namespace {

// Locale-independent: the program runs under the user's locale, the tool reads a dot.
std::string decibels(double value)
{
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace

std::vector<std::string> normalizerArgs(NormalizerMode mode, const NormalizerLevels& levels,
                                        const std::string& scratchFolder)
{
    std::vector<std::string> args;
    std::string_view flag = normalizerFlag(mode);
    if (!flag.empty())
        args.emplace_back(flag);
    const double margin = levels.lossyOutput ? kLossyMarginDb : 0.0;
    args.push_back("--target=" + decibels(levels.target.lufs));
    args.push_back("--ceiling=" + decibels(levels.target.ceilingDbtp - margin));
    args.emplace_back(levels.limitPeaks ? "--limiter=on" : "--limiter=off");
    // Without a folder the pattern would be expanded against the root or the current folder.
    if (scratchFolder.empty())
        return args;
    // The normaliser expands the pattern itself: the folder's own pattern characters are
    // escaped so that they stand for themselves and only "*.wav" matches the copies.
    std::string pattern;
    for (char c : scratchFolder) {
        if (c == '\\' || c == '*' || c == '?' || c == '[' || c == ']')
            pattern += '\\';
        pattern += c;
    }
    if (pattern.back() != '/')
        pattern += '/';
    pattern += "*.wav";
    args.push_back(std::move(pattern));
    return args;
}

std::vector<std::string> peakMeasurementArgs(const std::string& source)
{
    return {"-i", source, "-af", "volumedetect", "-f", "null", "nul"};
}

}  // namespace tool_contracts
