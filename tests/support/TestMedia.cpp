#include "support/TestMedia.h"

#include <QProcess>
#include <QStringList>

#include <cmath>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace testsupport {

CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs)
{
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(program), list);
    CommandResult result;
    if (!process.waitForStarted(timeoutMs))
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    result.output = process.readAll().toStdString();
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

void ffmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> full{"-hide_banner", "-nostdin", "-loglevel", "error", "-y"};
    full.insert(full.end(), args.begin(), args.end());
    CommandResult r = runCommand(FFMPEG_EXECUTABLE, full);
    if (r.exitCode != 0) {
        std::ostringstream msg;
        msg << "ffmpeg failed (" << r.exitCode << "):";
        for (const auto& a : args)
            msg << ' ' << a;
        msg << "\n" << r.output;
        throw std::runtime_error(msg.str());
    }
}

void makeMedia(const std::filesystem::path& out, const std::string& lavfiAudio,
               const std::string& lavfiVideo, const std::vector<std::string>& extraArgs)
{
    std::vector<std::string> args;
    if (!lavfiVideo.empty())
        args.insert(args.end(), {"-f", "lavfi", "-i", lavfiVideo});
    if (!lavfiAudio.empty())
        args.insert(args.end(), {"-f", "lavfi", "-i", lavfiAudio});
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.push_back(out.string());
    ffmpeg(args);
}

void makeSine(const std::filesystem::path& out, double peakDb, double seconds, int channels,
              const std::vector<std::string>& extraArgs)
{
    std::ostringstream src;
    src << "aevalsrc=" << std::pow(10.0, peakDb / 20.0) << "*sin(2*PI*440*t)"
        << (channels == 2 ? "|" + std::to_string(std::pow(10.0, peakDb / 20.0)) + "*sin(2*PI*440*t)" : "")
        << ":s=44100:d=" << seconds;
    makeMedia(out, src.str(), {}, extraArgs);
}

std::string ffprobeValue(const std::filesystem::path& file, const std::string& entry,
                         const std::string& selectStreams)
{
    std::vector<std::string> args{"-v", "error"};
    if (!selectStreams.empty())
        args.insert(args.end(), {"-select_streams", selectStreams});
    args.insert(args.end(), {"-show_entries", entry, "-of", "default=noprint_wrappers=1:nokey=1",
                             file.string()});
    CommandResult r = runCommand(FFPROBE_EXECUTABLE, args);
    std::string value = r.output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

static double matchNumber(const std::string& text, const std::string& pattern)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern)))
        throw std::runtime_error("no match for " + pattern + " in:\n" + text);
    return std::stod(m[1].str());
}

static std::vector<std::string> measuring(const std::filesystem::path& file, const std::string& stream,
                                          const std::string& filter)
{
    std::vector<std::string> args{"-hide_banner", "-nostdin", "-i", file.string()};
    if (!stream.empty())
        args.insert(args.end(), {"-map", "0:" + stream});
    args.insert(args.end(), {"-af", filter, "-f", "null", "-"});
    return args;
}

VolumeLevels measureVolume(const std::filesystem::path& file, const std::string& stream)
{
    CommandResult r = runCommand(FFMPEG_EXECUTABLE, measuring(file, stream, "volumedetect"));
    VolumeLevels levels;
    levels.maxDb = matchNumber(r.output, "max_volume: (-?[0-9.]+|-inf) dB");
    levels.meanDb = matchNumber(r.output, "mean_volume: (-?[0-9.]+|-inf) dB");
    return levels;
}

LoudnessLevels measureLoudness(const std::filesystem::path& file, const std::string& stream)
{
    CommandResult r = runCommand(FFMPEG_EXECUTABLE, measuring(file, stream, "ebur128=peak=sample+true"));
    // The summary comes last; search from its "Integrated loudness:" heading on.
    auto summary = r.output.rfind("Integrated loudness:");
    if (summary == std::string::npos)
        throw std::runtime_error("no ebur128 summary in:\n" + r.output);
    std::string tail = r.output.substr(summary);
    LoudnessLevels levels;
    levels.integratedLufs = matchNumber(tail, "I:\\s+(-?[0-9.]+|-inf) LUFS");
    levels.truePeakDb = matchNumber(tail, "True peak:\\s+Peak:\\s+(-?[0-9.]+|-inf) dBFS");
    levels.samplePeakDb = matchNumber(tail, "Sample peak:\\s+Peak:\\s+(-?[0-9.]+|-inf) dBFS");
    return levels;
}

}  // namespace testsupport
