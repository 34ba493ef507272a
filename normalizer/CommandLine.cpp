#include "normalizer/CommandLine.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace command_line {

namespace {

std::optional<double> number(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "--name=value" within [low, high], or an error text.
std::string numberOption(const std::string& arg, const std::string& name, double low, double high,
                         double& out)
{
    std::optional<double> value = number(arg.substr(name.size() + 1));
    if (!value || *value < low || *value > high)
        return "invalid value in " + arg + " (a number from " + std::to_string(int(low)) + " to " +
               std::to_string(int(high)) + ")";
    out = *value;
    return {};
}

}  // namespace

ParseResult parse(const std::vector<std::string>& args)
{
    ParseResult result;
    Options& o = result.options;
    bool modeGiven = false;
    bool optionsEnded = false;
    auto setMode = [&](gain_rules::Mode mode, const std::string& flag) {
        if (modeGiven && o.mode != mode)
            result.error = "only one of -b, -bv and -m can be given (" + flag + ")";
        o.mode = mode;
        modeGiven = true;
    };
    for (const std::string& arg : args) {
        if (!result.error.empty())
            break;
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            o.patterns.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-b") {
            setMode(gain_rules::Mode::Album, arg);
        } else if (arg == "-bv") {
            setMode(gain_rules::Mode::WeightedMean, arg);
        } else if (arg == "-m") {
            setMode(gain_rules::Mode::ArithmeticMean, arg);
        } else if (arg == "-n") {
            o.dryRun = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg.rfind("--target=", 0) == 0) {
            result.error = numberOption(arg, "--target", -70, 0, o.settings.targetLufs);
        } else if (arg.rfind("--ceiling=", 0) == 0) {
            result.error = numberOption(arg, "--ceiling", -60, 0, o.settings.ceilingDbtp);
        } else if (arg == "--limiter=on" || arg == "--limiter=off") {
            o.settings.limitPeaks = arg == "--limiter=on";
        } else if (arg.rfind("--limiter=", 0) == 0) {
            result.error = "invalid value in " + arg + " (on or off)";
        } else {
            result.error = "unknown option " + arg;
        }
    }
    if (result.error.empty() && o.patterns.empty() && !o.help && !o.version)
        result.error = "no file pattern given";
    return result;
}

std::string usage()
{
    return "Usage: client [-b | -bv | -m] [-n] [--target=LUFS] [--ceiling=DBTP] [--limiter=on|off]\n"
           "              \"PATTERN\"...\n"
           "Evens out the loudness of WAV files, rewriting each in place.\n"
           "Patterns are expanded by the tool (quote them), e.g. \"/music/tmp/*.wav\".\n"
           "\n"
           "  (no mode)        bring each file to the target loudness\n"
           "  -b               one gain for all files, from their joint loudness to the target;\n"
           "                   the files keep their levels relative to each other\n"
           "  -bv              bring each file to the mean loudness of all files, weighted by duration\n"
           "  -m               bring each file to the plain mean loudness of all files\n"
           "  -n               measure and report only; change nothing\n"
           "  --target=LUFS    target integrated loudness (default -14)\n"
           "  --ceiling=DBTP   highest true peak allowed after the change (default -1)\n"
           "  --limiter=on     hold the true peaks at the ceiling with a look-ahead limiter where\n"
           "                   a file's gain would lift them over it (the default)\n"
           "  --limiter=off    lower such a gain instead until the peaks fit\n"
           "  --help, --version\n"
           "\n"
           "Loudness is BS.1770 integrated loudness; means are taken over the LUFS values.\n"
           "With the limiter each file reaches its level within 0.5 LU (unless most of its\n"
           "loudness lies in its peaks: the gain goes at most 9 dB beyond what the mode asks);\n"
           "files that need no limiting get a plain gain. With -b each file is limited only\n"
           "where its own peaks need it, so the files keep their levels relative to each other.\n"
           "Files changing by less than 0.05 dB, silent files and files under 0.4 s are left\n"
           "as they are. Exit status: 0 done, 1 some file could not be processed, 2 bad\n"
           "command line or no file matched.\n";
}

}  // namespace command_line
