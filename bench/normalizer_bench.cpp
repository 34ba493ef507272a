// The normaliser over stereo 16-bit files (measure, limit and rewrite, track mode) against ffmpeg's
// ebur128 analysis of the same files, one after another.
//
//   normalizer_bench [files, default 8] [seconds each, default 60]
#include "BenchResult.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {


struct Outcome {
    bool ok = false;
    long maxRssKiB = 0;
};

// Runs a program from an argument vector, output discarded, and reports its own peak
// resident size (wait4 gives this child's figures alone).
Outcome run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (error != 0)
        return outcome;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return outcome;
    outcome.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.maxRssKiB = usage.ru_maxrss;
    return outcome;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int fileCount = bench::sizeArgument(argc, argv, 1, 8);
    const int length = bench::sizeArgument(argc, argv, 2, 60);
    char pattern[] = "/tmp/normalizer-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    std::vector<std::string> files;
    std::printf("making %d files of %d s, stereo, 16 bits, 44.1 kHz...\n", fileCount, length);
    for (int i = 0; i < fileCount; ++i) {
        files.push_back((folder / (std::to_string(i) + ".wav")).string());
        // Pink noise at a different level in each file, with short full-scale transients a few
        // times a second, as loud as music and peaking as it does: every file is limited.
        const std::string seconds = std::to_string(length);
        std::string source = "anoisesrc=c=pink:r=44100:d=" + seconds + ":a=" + std::to_string(0.2 + 0.04 * i) +
                             ",aformat=channel_layouts=stereo[n];aevalsrc=0.95*lt(mod(t\\,0.33)\\,0.0006)*"
                             "sin(2*PI*2000*t):s=44100:d=" + seconds + ",aformat=channel_layouts=stereo[t];"
                             "[n][t]amix=inputs=2:normalize=0[out0]";
        if (!run({FFMPEG_EXECUTABLE, "-nostdin", "-y", "-f", "lavfi", "-i", source, "-c:a", "pcm_s16le", files.back()}).ok) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", files.back().c_str());
            return 1;
        }
    }

    auto start = Clock::now();
    for (const std::string& file : files)
        if (!run({FFMPEG_EXECUTABLE, "-nostdin", "-hide_banner", "-i", file, "-af", "ebur128=peak=true", "-f",
                  "null", "-"}).ok) {
            std::fprintf(stderr, "ffmpeg could not analyse %s\n", file.c_str());
            return 1;
        }
    const double ffmpegSeconds = secondsSince(start);

    start = Clock::now();
    Outcome client = run({NORMALIZER_CLIENT, (folder / "*.wav").string()});
    const double clientSeconds = secondsSince(start);
    if (!client.ok) {
        std::fprintf(stderr, "the client failed\n");
        return 1;
    }

    std::printf("ffmpeg ebur128=peak=true, files one after another: %8.3f s\n", ffmpegSeconds);
    std::printf("client, measure, limit and rewrite (track mode):   %8.3f s\n", clientSeconds);
    std::printf("ratio client / ffmpeg:                             %8.3f (target: at most 1.0)\n",
                clientSeconds / ffmpegSeconds);
    std::printf("client peak resident size:                         %8ld KiB\n", client.maxRssKiB);
    const double ratio = clientSeconds / ffmpegSeconds;
    bench::printResult("normaliser, " + std::to_string(fileCount) + " x " + std::to_string(length) +
                           " s stereo WAV, measure, limit and rewrite",
                       bench::timeText(clientSeconds),
                       "ffmpeg ebur128=peak=true " + bench::timeText(ffmpegSeconds),
                       bench::format("%.2fx", ratio), "at most 1.0x", ratio <= 1.0);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
