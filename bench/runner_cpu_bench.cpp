// How much of a core the program itself spends while the tool runner waits for a converter job:
// the runner's own CPU time (user + system of this process, the child's excluded) over the
// job's wall time, beside the wall time of the same ffmpeg command run directly.
//
//   runner_cpu_bench [seconds of generated audio, default 600]

#include "BenchResult.h"

#include "analysis/ToolRunner.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto toSeconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

QStringList toQt(const std::vector<std::string>& args)
{
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    return list;
}

// Plain ffmpeg, output thrown away; returns the wall time or a negative value on failure.
double runDirectly(const std::vector<std::string>& args)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    auto start = Clock::now();
    process.start(FFMPEG_EXECUTABLE, toQt(args));
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return -1;
    return seconds(Clock::now() - start);
}

struct Job {
    const char* name;
    std::vector<std::string> args;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int length = bench::sizeArgument(argc, argv, 1, 600);

    const auto folder = std::filesystem::temp_directory_path() /
                        ("auralon-runner-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string source = (folder / "source.flac").string();
    std::printf("generating %d s of stereo audio ...\n", length);
    if (runDirectly({"-nostdin", "-y", "-f", "lavfi", "-i",
                     "sine=frequency=440:sample_rate=48000:duration=" + std::to_string(length),
                     "-ac", "2", "-c:a", "flac", source}) < 0) {
        std::fprintf(stderr, "cannot generate %s\n", source.c_str());
        return 1;
    }

    const std::vector<Job> jobs = {
        // Progress lines only, twice a second: the runner mostly waits.
        {"progress lines", {"-nostdin", "-i", source, "-af",
                            "aresample=192000:resampler=soxr:precision=33,volumedetect", "-f", "null", "-"}},
        // A report line every 100 ms of audio: about a megabyte of text to read and split.
        {"chatty output", {"-nostdin", "-i", source, "-af", "ebur128=peak=true", "-f", "null", "-"}},
    };

    std::printf("%-16s %12s %12s %10s %10s %8s\n", "job", "ffmpeg s", "runner s", "own cpu s",
                "own cpu %", "lines");
    int failures = 0;
    for (const Job& job : jobs) {
        const double direct = runDirectly(job.args);
        long lines = 0;
        bool cancel = false;
        const double cpuBefore = ownCpuSeconds();
        const auto start = Clock::now();
        ToolRunResult result = run_tool(FFMPEG_EXECUTABLE, job.args, cancel,
                                        [&](std::string_view) { ++lines; });
        const double wall = seconds(Clock::now() - start);
        const double cpu = ownCpuSeconds() - cpuBefore;
        if (!result.succeeded() || direct < 0)
            ++failures;
        const double share = wall > 0 ? 100.0 * cpu / wall : 0.0;
        std::printf("%-16s %12.2f %12.2f %10.3f %9.2f%% %8ld\n", job.name, direct, wall, cpu,
                    share, lines);
        bench::printResult(std::string("tool runner's own CPU, ffmpeg with ") + job.name + " over " +
                               std::to_string(length) + " s of audio",
                           bench::timeText(wall) + " (own CPU " + bench::timeText(cpu) + ")",
                           "ffmpeg alone " + bench::timeText(direct),
                           bench::format("%.2f %% of a core", share), "under 5 % of a core",
                           result.succeeded() && direct >= 0 && share < 5.0);
    }
    std::printf("target: own cpu below 5 %% of one core\n");

    std::filesystem::remove_all(folder);
    return failures == 0 ? 0 : 1;
}
