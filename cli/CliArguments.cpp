#include "cli/CliArguments.h"

#include "base/MediaExtensions.h"
#include "base/ValueCorrections.h"
#include "report/ReportExport.h"
#include "tools/ToolContracts.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace cli_arguments {
namespace {

using conversion_command::VolumeMode;

constexpr int kPrefixMaxLength = 20;  // as the Options dialog's prefix field
constexpr int kHighestPercent = 1000;
constexpr double kHighestGainDb = 100;
constexpr double kHighestSkipDb = 6;  // more is no longer "already right"
constexpr double kLowestTargetLufs = -70;  // the normaliser's range
// The normaliser takes ceilings down to -60 dBTP, and a lossy output lowers the ceiling by
// its margin.
constexpr double kLowestCeilingDbtp = -60 + tool_contracts::kLossyMarginDb;

// The Options dialog's loudness targets, by the names the command line gives them.
constexpr std::array<std::string_view, tool_contracts::kLoudnessTargets.size()> kPresetNames{
    "streaming", "podcast", "replaygain", "ebu", "atsc"};

// What the options read so far have set, for the checks that concern several of them.
struct Reading {
    std::string modeOption;      // the option that chose the mode
    std::string loudnessOption;  // an option that only the RMS modes use
    bool targetGiven = false;
    bool presetGiven = false;
    bool ceilingGiven = false;
    bool groupGiven = false;
    JobLimits limits;
};

using Apply = std::string (*)(CliOptions&, Reading&, const std::string& option, std::string_view value);

struct Option {
    std::string_view name;   // without "--"
    char letter;             // the short form, or 0
    std::string_view value;  // what the value stands for; empty for an option without one
    std::string_view help;
    Apply apply;
};

std::string badValue(const std::string& option, std::string_view value, std::string_view expected)
{
    return "invalid value '" + std::string(value) + "' for " + option + ": " + std::string(expected);
}

// The modes whose files form sets: one gain or one level for each set.
bool isSetMode(VolumeMode mode)
{
    return mode == VolumeMode::RmsCollectively || mode == VolumeMode::RmsWeighted || mode == VolumeMode::RmsArithmetic;
}

std::string chooseMode(CliOptions& o, Reading& r, const std::string& option, VolumeMode mode)
{
    if (!r.modeOption.empty() && r.modeOption != option)
        return "only one volume mode may be given: " + r.modeOption + " and " + option;
    r.modeOption = option;
    o.mode = mode;
    return {};
}

template <VolumeMode mode>
std::string modeFlag(CliOptions& o, Reading& r, const std::string& option, std::string_view)
{
    return chooseMode(o, r, option, mode);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::optional<int> wholeNumber(std::string_view text)
{
    int value = 0;
    if (text.empty() || !std::all_of(text.begin(), text.end(), isDigit))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A decimal number with "." as the point: "-16", "-0.5", "3.".
std::optional<double> decimalNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const bool shaped = std::any_of(text.begin(), text.end(), isDigit)
                        && std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || c == '.' || c == '-'; });
    double value = 0;
    if (!shaped)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string percent(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    const std::optional<int> number = wholeNumber(value);
    if (!number || *number > kHighestPercent)
        return badValue(option, value, "a whole number from 0 to 1000");
    o.percent = *number;
    return chooseMode(o, r, option, VolumeMode::ChangePercent);
}

std::string gain(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    // What the window's gain field lets through and keeps as typed; its corrections may only
    // drop a trailing point ("5." is 5), never change the number.
    const QString text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    const QString corrected = value_corrections::correctedGainText(text);
    double typed = 0;
    double kept = 0;
    const bool valid = std::all_of(text.begin(), text.end(), value_corrections::isGainKey)
                       && std::any_of(value.begin(), value.end(), isDigit)
                       && value_corrections::readGainNumber(text, &typed)
                       && value_corrections::readGainNumber(corrected, &kept) && typed == kept
                       && typed <= kHighestGainDb;
    if (!valid)
        return badValue(option, value, "a number of decibels up to 100, such as 6 or -3.5");
    o.gain = corrected.toStdString();
    return chooseMode(o, r, option, VolumeMode::ChangeGain);
}

std::string loudnessValue(std::string_view value, const std::string& option, double lowest, double& into)
{
    const std::optional<double> number = decimalNumber(value);
    if (!number || *number < lowest || *number > 0)
        return badValue(option, value, "a number from " + std::to_string(static_cast<int>(lowest)) + " to 0");
    into = *number;
    return {};
}

std::string target(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    r.loudnessOption = option;
    r.targetGiven = true;
    return loudnessValue(value, option, kLowestTargetLufs, o.targetLufs);
}

std::string ceiling(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    r.loudnessOption = option;
    r.ceilingGiven = true;
    return loudnessValue(value, option, kLowestCeilingDbtp, o.ceilingDbtp);
}

std::string preset(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    const auto found = std::find(kPresetNames.begin(), kPresetNames.end(), value);
    if (found == kPresetNames.end())
        return badValue(option, value, "one of streaming, podcast, replaygain, ebu, atsc");
    const tool_contracts::LoudnessTarget& chosen =
        tool_contracts::kLoudnessTargets[static_cast<std::size_t>(found - kPresetNames.begin())];
    r.loudnessOption = option;
    r.presetGiven = true;
    o.targetLufs = chosen.lufs;
    // An explicit --ceiling wins, whatever its place.
    if (!r.ceilingGiven)
        o.ceilingDbtp = chosen.ceilingDbtp;
    return {};
}

std::string noLimiter(CliOptions& o, Reading& r, const std::string& option, std::string_view)
{
    r.loudnessOption = option;
    o.limiter = false;
    return {};
}

std::string groupBy(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    if (value != "folder")
        return badValue(option, value, "folder");
    r.groupGiven = o.groupByFolder = true;
    return {};
}

std::string format(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    std::string extension(value.substr(value.starts_with('.') ? 1 : 0));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string entry = "*." + extension;
    const std::vector<std::string> offered = media_extensions::entriesOf(media_extensions::audio_out_exts);
    if (extension.empty() || std::find(offered.begin(), offered.end(), entry) == offered.end()) {
        std::string names;
        for (const std::string& e : offered) {
            std::string lower = e.substr(2);
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            names += (names.empty() ? "" : ", ") + lower;
        }
        return badValue(option, value, "one of " + names);
    }
    o.format = entry;
    return {};
}

std::string prefix(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    const bool valid = value.size() <= kPrefixMaxLength && std::all_of(value.begin(), value.end(), [](char c) {
                           return static_cast<unsigned char>(c) < 0x80 && value_corrections::isPrefixKey(QChar(c));
                       });
    if (!valid)
        return badValue(option, value, "up to 20 letters, digits, '-' and '_'");
    o.prefix = value;
    return {};
}

std::string output(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    if (value.empty())
        return badValue(option, value, "a folder");
    o.outputFolder = value;
    return {};
}

std::string filesFrom(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    if (value.empty())
        return badValue(option, value, "a file, or - for standard input");
    o.filesFrom.emplace_back(value);
    return {};
}

template <bool CliOptions::*flag>
std::string setFlag(CliOptions& o, Reading&, const std::string&, std::string_view)
{
    o.*flag = true;
    return {};
}

std::string jobs(CliOptions& o, Reading& r, const std::string& option, std::string_view value)
{
    const std::optional<int> number = wholeNumber(value);
    if (!number || *number < 1 || *number > r.limits.most)
        return badValue(option, value, "a whole number from 1 to " + std::to_string(r.limits.most));
    o.jobs = *number;
    return {};
}

std::string skipWithin(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    const std::optional<double> number = decimalNumber(value);
    if (!number || *number < 0 || *number > kHighestSkipDb)
        return badValue(option, value, "a number of decibels from 0 to 6, such as 0.5");
    o.skipWithinDb = *number;
    return {};
}

std::string report(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    if (!report_export::formatOf(std::string(value)))
        return badValue(option, value, "a file ending in .csv, .tsv, .json or .jsonl");
    o.reportFile = value;
    return {};
}

std::string existing(CliOptions& o, Reading&, const std::string& option, std::string_view value)
{
    const std::optional<existing_outputs::Choice> choice = existing_outputs::parseChoice(value);
    if (!choice)
        return badValue(option, value, "fail, keep-both, replace or skip");
    o.existing = *choice;
    return {};
}

// The options, in the order of the help.
constexpr std::array kOptions{
    Option{"track", 0, "", "each file to the loudness target on its own (the default)",
           modeFlag<VolumeMode::RmsSingularly>},
    Option{"album", 0, "", "one gain for all, from their joint loudness to the target",
           modeFlag<VolumeMode::RmsCollectively>},
    Option{"weighted", 0, "", "each file to the mean loudness, weighted by duration",
           modeFlag<VolumeMode::RmsWeighted>},
    Option{"arithmetic", 0, "", "each file to the plain mean loudness of all files",
           modeFlag<VolumeMode::RmsArithmetic>},
    Option{"peak", 0, "", "raise each file until its peak reaches full scale", modeFlag<VolumeMode::PeakTrackGain>},
    Option{"percent", 0, "N", "change the volume to N percent (0 to 1000)", percent},
    Option{"gain", 0, "DB", "change the volume by DB decibels (up to 100, e.g. -3.5)", gain},
    Option{"target", 0, "LUFS", "loudness of the four modes above (-70 to 0; default -14)", target},
    Option{"preset", 0, "NAME", "a target and ceiling: streaming (-14 LUFS, -1 dBTP),\n"
                                "podcast (-16, -1), replaygain (-18, -1), ebu (-23, -1)\n"
                                "or atsc (-24, -2)", preset},
    Option{"ceiling", 0, "DBTP", "highest true peak of those modes (-59 to 0; default -1)", ceiling},
    Option{"no-limiter", 0, "", "lower a gain that would lift the peaks over the ceiling\n"
                                "instead of limiting them", noLimiter},
    Option{"group-by", 0, "folder", "with --album, --weighted or --arithmetic: each folder's\n"
                                    "files form a set of their own (default: the whole list)", groupBy},
    Option{"format", 0, "EXT", "write audio files as EXT (wav, mp3, flac, ...); videos\n"
                               "keep their containers", format},
    Option{"prefix", 0, "TEXT", "put TEXT before every output name (up to 20 letters,\n"
                                "digits, - and _)", prefix},
    Option{"output", 'o', "DIR", "the folder for the new files (required; must exist)", output},
    Option{"existing", 0, "WHAT", "a file in DIR of an output's name: fail (the default:\n"
                                  "the row is refused), keep-both (write \"name (1).ext\"),\n"
                                  "replace, or skip the row", existing},
    Option{"skip-within", 0, "DB", "copy a file's streams as they are when its level would\n"
                                   "change by less than DB, no limiting is needed and no\n"
                                   "--format is given", skipWithin},
    Option{"tags-only", 0, "", "write copies of every stream with ReplayGain tags (R128\n"
                               "gains for Opus), the audio untouched; --track or --album",
           setFlag<&CliOptions::tagsOnly>},
    Option{"no-check", 0, "", "write without measuring and judging each output afterwards",
           setFlag<&CliOptions::noCheck>},
    Option{"plan", 0, "", "measure the files and print what would be done; write\n"
                          "nothing (no -o needed)", setFlag<&CliOptions::plan>},
    Option{"report", 0, "FILE", "write the measurements, plan and results to FILE\n"
                                "(.csv, .tsv, .json or .jsonl)", report},
    Option{"jobs", 'j', "N", "files worked on at once", jobs},
    Option{"files-from", 0, "FILE", "take more paths from FILE, one a line (- for stdin)", filesFrom},
    Option{"null", '0', "", "names in FILE end with a NUL byte, and so does every\n"
                            "field on standard output", setFlag<&CliOptions::nullSeparated>},
    Option{"quiet", 'q', "", "show no progress", setFlag<&CliOptions::quiet>},
    Option{"help", 0, "", "show this help and exit", setFlag<&CliOptions::help>},
    Option{"version", 0, "", "show the version and exit", setFlag<&CliOptions::version>},
};

const Option* byName(std::string_view name)
{
    for (const Option& option : kOptions)
        if (option.name == name)
            return &option;
    return nullptr;
}

const Option* byLetter(char letter)
{
    for (const Option& option : kOptions)
        if (option.letter != 0 && option.letter == letter)
            return &option;
    return nullptr;
}

}  // namespace

ParseResult parse(const std::vector<std::string>& args, const JobLimits& limits)
{
    ParseResult result;
    CliOptions& o = result.options;
    Reading reading;
    reading.limits = limits;
    o.jobs = limits.byDefault;
    bool optionsEnded = false;
    // Applies one option with its value; the value is taken from the next argument when it
    // needs one and `attached` has none.
    auto take = [&](const Option& option, const std::string& shown, std::optional<std::string> attached,
                    std::size_t& i) -> std::string {
        if (option.value.empty()) {
            if (attached)
                return "option " + shown + " takes no value";
            return option.apply(o, reading, shown, {});
        }
        if (!attached) {
            if (i + 1 >= args.size())
                return "option " + shown + " needs a value (" + std::string(option.value) + ")";
            attached = args[++i];
        }
        return option.apply(o, reading, "--" + std::string(option.name), *attached);
    };

    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            o.paths.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg.starts_with("--")) {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Option* option = byName(name);
            if (!option) {
                result.error = "unknown option --" + name;
                break;
            }
            std::optional<std::string> attached;
            if (equals != std::string::npos)
                attached = arg.substr(equals + 1);
            result.error = take(*option, "--" + name, attached, i);
        } else {
            // A cluster of short options: "-q0", "-j2", "-o DIR".
            for (std::size_t k = 1; k < arg.size() && result.error.empty(); ++k) {
                const Option* option = byLetter(arg[k]);
                const std::string shown = std::string("-") + arg[k];
                if (!option) {
                    result.error = "unknown option " + shown;
                    break;
                }
                std::optional<std::string> attached;
                if (!option->value.empty() && k + 1 < arg.size())
                    attached = arg.substr(k + 1);
                result.error = take(*option, shown, attached, i);
                if (!option->value.empty())
                    break;
            }
        }
    }
    if (!result.error.empty() || o.help || o.version)
        return result;

    if (reading.targetGiven && reading.presetGiven)
        result.error = "--target and --preset cannot be given together";
    else if (!reading.loudnessOption.empty() && !conversion_command::isRmsMode(o.mode))
        result.error = reading.loudnessOption
                       + " applies to the RMS modes only (--track, --album, --weighted, --arithmetic), not to "
                       + reading.modeOption;
    else if (o.tagsOnly && o.mode != VolumeMode::RmsSingularly && o.mode != VolumeMode::RmsCollectively)
        result.error = "--tags-only goes with --track or --album only, not with " + reading.modeOption;
    else if (o.tagsOnly && !reading.loudnessOption.empty())
        result.error = reading.loudnessOption + " does not apply to --tags-only: the tags' reference is -18 LUFS";
    else if (o.tagsOnly && !o.format.empty())
        result.error = "--format does not apply to --tags-only: every copy keeps its source's format";
    else if (reading.groupGiven && !isSetMode(o.mode))
        result.error = "--group-by applies to the album and average modes only (--album, --weighted, --arithmetic), not to "
                       + (reading.modeOption.empty() ? std::string("--track (the default)") : reading.modeOption);
    else if (o.outputFolder.empty() && !o.plan)
        result.error = "no output folder given (-o DIR)";
    else if (o.paths.empty() && o.filesFrom.empty())
        result.error = "no file or folder given";
    return result;
}

std::string helpText(const JobLimits& limits)
{
    std::string text =
        "Usage: auralon-cli [OPTION]... -o DIR PATH...\n"
        "Evens out the loudness of audio and video files. Every file named, and every\n"
        "audio or video file directly in a folder named, is written anew into DIR;\n"
        "videos keep their pictures, and no source is ever changed.\n"
        "\n";
    constexpr std::size_t kColumn = 22;
    for (const Option& option : kOptions) {
        std::string left = "  ";
        if (option.letter)
            left += std::string("-") + option.letter + ", ";
        left += "--" + std::string(option.name);
        if (!option.value.empty())
            left += "=" + std::string(option.value);
        std::string help(option.help);
        if (option.name == "jobs")
            help += " (1 to " + std::to_string(limits.most) + "; default " + std::to_string(limits.byDefault) + ")";
        left += left.size() + 2 <= kColumn ? std::string(kColumn - left.size(), ' ') : "\n" + std::string(kColumn, ' ');
        for (std::size_t start = 0, end; start <= help.size(); start = end + 1) {
            end = std::min(help.find('\n', start), help.size());
            text += (start == 0 ? left : std::string(kColumn, ' ')) + help.substr(start, end - start) + "\n";
        }
    }
    text +=
        "\n"
        "One line per file on standard output: STATUS, SOURCE and OUTPUT, tab-separated;\n"
        "STATUS is written, failed, refused (not taken: no audio, unreadable, no safe\n"
        "name) or skipped (the job stopped before it). Progress and messages go to\n"
        "standard error. Exit status: 0 every file written, 1 some file failed, was\n"
        "refused or skipped, 2 bad usage or nothing to do (nothing written), 130\n"
        "stopped by SIGINT, SIGTERM or SIGHUP. At the end a summary on standard error:\n"
        "files written, how many kept their promised level and peaks, the outputs'\n"
        "loudness spread, the highest true peak, how many were limited or left unchanged.\n"
        "With --plan, standard output holds the plan instead, tab-separated with a header.\n";
    return text;
}

}  // namespace cli_arguments
