#include "normalizer/CommandLine.h"

#include "SampleStreamMeter.h"

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

// "--name=value", a whole number within [low, high], or an error text.
std::string wholeOption(const std::string& arg, const std::string& name, std::uint64_t low, std::uint64_t high,
                        std::uint64_t& out)
{
    const std::string text = arg.substr(name.size() + 1);
    std::uint64_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < low || value > high)
        return "invalid value in " + arg + " (a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ")";
    out = value;
    return {};
}

// The raw sample formats --measure reads: what the program's WAV copies hold, 16-bit integers
// or 32-bit floats (deeper integers fit in a float's 24 bits of mantissa).
std::string sampleFormat(const std::string& arg, WavFormat& format)
{
    const std::string name = arg.substr(std::string("--format=").size());
    if (name != "s16le" && name != "f32le")
        return "invalid value in " + arg + " (s16le or f32le)";
    format.encoding = name == "s16le" ? SampleEncoding::SignedInt : SampleEncoding::Float;
    format.containerBits = format.validBits = name == "s16le" ? 16 : 32;
    return {};
}

// The checks of a measuring command line once every argument is read.
std::string measureError(const Options& o, bool normalisingOptions, unsigned given)
{
    if (normalisingOptions)
        return "--measure takes none of -b, -bv, -m, -n, --levels, --target, --ceiling and --limiter";
    if (given != 7)
        return "--measure needs --format, --channels and --rate";
    if (o.patterns != std::vector<std::string>{"-"})
        return "--measure reads standard input: give - as its only file";
    return {};
}

}  // namespace

ParseResult parse(const std::vector<std::string>& args)
{
    ParseResult result;
    Options& o = result.options;
    bool modeGiven = false;
    bool optionsEnded = false;
    bool normalisingOptions = false;  // given an option of normalising
    unsigned rawGiven = 0;            // bits: --format 1, --channels 2, --rate 4
    bool layoutGiven = false;
    std::uint64_t whole = 0;
    auto setMode = [&](gain_rules::Mode mode, const std::string& flag) {
        if (modeGiven && o.mode != mode)
            result.error = "only one of -b, -bv and -m can be given (" + flag + ")";
        o.mode = mode;
        modeGiven = true;
    };
    auto startsWith = [](const std::string& arg, const char* prefix) { return arg.rfind(prefix, 0) == 0; };
    for (const std::string& arg : args) {
        if (!result.error.empty())
            break;
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            o.patterns.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-b" || arg == "-bv" || arg == "-m") {
            setMode(arg == "-b" ? gain_rules::Mode::Album
                                : arg == "-bv" ? gain_rules::Mode::WeightedMean : gain_rules::Mode::ArithmeticMean,
                    arg);
            normalisingOptions = true;
        } else if (arg == "-n") {
            o.dryRun = normalisingOptions = true;
        } else if (arg == "--levels") {
            o.levels = normalisingOptions = true;
        } else if (arg == "--measure") {
            o.measure = true;
        } else if (startsWith(arg, "--format=")) {
            result.error = sampleFormat(arg, o.rawFormat);
            rawGiven |= 1;
        } else if (startsWith(arg, "--channels=")) {
            result.error = wholeOption(arg, "--channels", 1, SampleStreamMeter::kMaxChannels, whole);
            o.rawFormat.channels = static_cast<std::uint16_t>(whole);
            rawGiven |= 2;
        } else if (startsWith(arg, "--rate=")) {
            result.error = wholeOption(arg, "--rate", SampleStreamMeter::kMinRate, SampleStreamMeter::kMaxRate, whole);
            o.rawFormat.sampleRate = static_cast<std::uint32_t>(whole);
            rawGiven |= 4;
        } else if (startsWith(arg, "--layout=")) {
            result.error = wholeOption(arg, "--layout", 0, 0xFFFFFFFFu, whole);
            o.rawFormat.channelMask = static_cast<std::uint32_t>(whole);
            layoutGiven = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (startsWith(arg, "--target=")) {
            result.error = numberOption(arg, "--target", -70, 0, o.settings.targetLufs);
            normalisingOptions = true;
        } else if (startsWith(arg, "--ceiling=")) {
            result.error = numberOption(arg, "--ceiling", -60, 0, o.settings.ceilingDbtp);
            normalisingOptions = true;
        } else if (arg == "--limiter=on" || arg == "--limiter=off") {
            o.settings.limitPeaks = arg == "--limiter=on";
            normalisingOptions = true;
        } else if (startsWith(arg, "--limiter=")) {
            result.error = "invalid value in " + arg + " (on or off)";
        } else {
            result.error = "unknown option " + arg;
        }
    }
    if (!result.error.empty() || o.help || o.version)
        return result;
    if (o.measure) {
        result.error = measureError(o, normalisingOptions, rawGiven);
        o.rawFormat.blockAlign = static_cast<std::uint16_t>(o.rawFormat.channels * o.rawFormat.containerBits / 8);
    } else if (rawGiven > 0 || layoutGiven) {
        result.error = "--format, --channels, --rate and --layout go with --measure";
    } else if (o.patterns.empty()) {
        result.error = "no file pattern given";
    }
    return result;
}

std::string usage()
{
    return "Usage: client [-b | -bv | -m] [-n] [--levels] [--target=LUFS] [--ceiling=DBTP] [--limiter=on|off]\n"
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
           "  --levels         print each file's figures as --measure does (below), after its\n"
           "                   name and a tab, once it is measured\n"
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
           "command line or no file matched.\n"
           "\n"
           "       client --measure --format=s16le|f32le --channels=N --rate=HZ [--layout=MASK] -\n"
           "Measures raw interleaved samples read from standard input (16-bit integers or 32-bit\n"
           "floats, little-endian) as the files above are measured, and prints one line:\n"
           "  measured<TAB>I=<LUFS><TAB>LRA=<LU><TAB>TP=<dBTP><TAB>SP=<dBFS><TAB>T=<seconds><TAB>blocks=<H>\n"
           "integrated loudness, loudness range (EBU Tech 3342), true peak, sample peak, length,\n"
           "and H, the loudness of the 400 ms gating blocks: \"<first bin>:<count>,<count>,...\",\n"
           "bins of 0.1 LU from -70 LUFS (bin b holds -70+b/10 up to 0.1 more), \"-\" for none.\n"
           "Silence is -inf. MASK gives the speaker positions of the channels (WAVE_FORMAT_EXTENSIBLE\n"
           "bits, decimal; default: the usual order). Exit status: 0 measured, 1 the input could\n"
           "not be read, 2 bad command line.\n";
}

}  // namespace command_line
