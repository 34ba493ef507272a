#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;     // -1 when the command could not be run or crashed
    std::string output;    // standard output and standard error together
};

// Runs a program from an argument vector (never through a shell) and waits for it.
CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs = 120000);

// Runs the real ffmpeg with "-hide_banner -loglevel error -y" in front of args;
// throws with ffmpeg's output when it fails.
void ffmpeg(const std::vector<std::string>& args);

// Makes a file from ffmpeg's lavfi sources. lavfiAudio is a source description such
// as "sine=frequency=440:duration=2" (empty for none); lavfiVideo likewise
// ("testsrc=size=160x120:rate=10:duration=2"). extraArgs go before the output path.
void makeMedia(const std::filesystem::path& out, const std::string& lavfiAudio,
               const std::string& lavfiVideo = {}, const std::vector<std::string>& extraArgs = {});

// A sine tone whose sample peak is peakDb dBFS (e.g. -3.5), of the given length.
void makeSine(const std::filesystem::path& out, double peakDb, double seconds,
              int channels = 2, const std::vector<std::string>& extraArgs = {});

// What ffprobe says: one entry of "-show_entries", e.g. ("format=duration") -> "2.000000".
std::string ffprobeValue(const std::filesystem::path& file, const std::string& entry,
                         const std::string& selectStreams = {});

// Levels measured again with ffmpeg's volumedetect: max_volume and mean_volume in dB.
struct VolumeLevels {
    double maxDb = 0;
    double meanDb = 0;
};
// `stream` picks one stream ("a:1"); empty for the converter's own choice.
VolumeLevels measureVolume(const std::filesystem::path& file, const std::string& stream = {});

// Integrated loudness (LUFS), true peak (dBTP) and sample peak (dBFS) from ffmpeg's ebur128 filter.
struct LoudnessLevels {
    double integratedLufs = 0;
    double truePeakDb = 0;
    double samplePeakDb = 0;
};
LoudnessLevels measureLoudness(const std::filesystem::path& file, const std::string& stream = {});

}  // namespace testsupport
