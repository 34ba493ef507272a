// The analysis of a loudness report: every file measured out of process by a pool of `atOnce`
// measuring workers (what the check runs), against ffmpeg's ebur128 meter with true peaks over
// the same files one after another. Three rounds, the middle one by ratio. Then the peak
// resident size of the worker measuring a file of the length given and one ten times as long:
// memory must not grow with the length.
//
//   analysis_bench [files, default 8] [seconds each, default 60] [at once, default 2]
#include "BenchResult.h"

#include "analysis/MeasureWorker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kConverter = FFMPEG_EXECUTABLE;
const std::string kMeter = METER_WORKER;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds of every child ended so far: on a busy machine, what the work itself costs.
double childCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool runFfmpeg(const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromStdString(kConverter), list);
    p.waitForFinished(-1);
    p.readAll();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The job benchmarks' files: a tone a file, MP3.
fs::path makeFile(const fs::path& dir, int i, double length)
{
    const fs::path file = dir / ("tone" + std::to_string(i) + ".mp3");
    runFfmpeg({"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
               "aevalsrc=0.1*sin(2*PI*(300+" + std::to_string(50 * i) + ")*t)|0.1*sin(2*PI*440*t):s=44100:d=" +
                   std::to_string(length),
               file.string()});
    return file;
}

// What the program would measure of such a file: its copy would hold 16-bit samples.
tool_contracts::MeasureInput inputOf(const fs::path& file)
{
    return {file.string(), 0, 2, 44100, 3, tool_contracts::RawSamples::S16};
}

// Every file measured, atOnce at a time, each started as soon as one ends. The workers end
// with the pool, so that their CPU time is counted.
bool measurePool(const std::vector<fs::path>& files, int atOnce)
{
    std::size_t next = 0, open = 0;
    bool allMeasured = true;
    QEventLoop loop;
    std::vector<std::unique_ptr<MeasureWorker>> workers;
    for (int i = 0; i < atOnce; ++i) {
        MeasureWorker* worker = workers.emplace_back(std::make_unique<MeasureWorker>(kMeter)).get();
        QObject::connect(worker, &MeasureWorker::finished, [&, worker](const MeasureResult& r) {
            allMeasured = allMeasured && r.measurement.has_value();
            if (next < files.size())
                return worker->measure(inputOf(files[next++]));
            if (--open == 0)
                loop.quit();
        });
    }
    for (auto& worker : workers)
        if (next < files.size()) {
            worker->measure(inputOf(files[next++]));
            ++open;
        }
    if (open > 0)
        loop.exec();
    return allMeasured;
}

// The worker's own peak resident size in KiB, measuring one file.
long workerResidentKiB(const fs::path& file)
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(kMeter.c_str()), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, kMeter.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[0]);
    const std::string request = tool_contracts::meterRequest(inputOf(file));
    const bool written = ::write(pipe[1], request.data(), request.size()) == static_cast<ssize_t>(request.size());
    ::close(pipe[1]);
    rusage used{};
    int status = 0;
    ::wait4(pid, &status, 0, &used);
    return written ? used.ru_maxrss : 0;
}

std::string mebibytes(long kib)
{
    return bench::format("%.1f MiB", kib / 1024.0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int fileCount = bench::sizeArgument(argc, argv, 1, 8);
    const double length = bench::secondsArgument(argc, argv, 2, 60.0);
    const int atOnce = bench::sizeArgument(argc, argv, 3, 2);
    const fs::path dir = fs::temp_directory_path() / "auralon_analysis_bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<fs::path> files;
    for (int i = 0; i < fileCount; ++i)
        files.push_back(makeFile(dir, i, length));

    struct Round {
        double ours = 0, reference = 0, oursCpu = 0, referenceCpu = 0;
    };
    std::vector<Round> rounds;
    for (int round = 0; round < 3; ++round) {
        Round r;
        auto start = Clock::now();
        double cpu = childCpuSeconds();
        for (const fs::path& file : files)
            if (!runFfmpeg({"-nostdin", "-hide_banner", "-i", file.string(), "-af", "ebur128=peak=true", "-f", "null", "-"})) {
                std::fprintf(stderr, "ffmpeg could not analyse %s\n", file.c_str());
                return 1;
            }
        r.reference = secondsSince(start);
        r.referenceCpu = childCpuSeconds() - cpu;
        start = Clock::now();
        cpu = childCpuSeconds();
        if (!measurePool(files, atOnce)) {
            std::fprintf(stderr, "a file could not be measured\n");
            return 1;
        }
        r.ours = secondsSince(start);
        r.oursCpu = childCpuSeconds() - cpu;
        std::printf("round %d: measuring, %d at once %.3f s (tools' CPU %.3f s); ffmpeg ebur128=peak=true one after "
                    "another %.3f s (CPU %.3f s); ratio %.3f, of CPU %.3f\n",
                    round + 1, atOnce, r.ours, r.oursCpu, r.reference, r.referenceCpu, r.ours / r.reference,
                    r.oursCpu / r.referenceCpu);
        rounds.push_back(r);
    }
    std::sort(rounds.begin(), rounds.end(), [](const Round& a, const Round& b) { return a.ours / a.reference < b.ours / b.reference; });
    const Round& middle = rounds[1];
    const double ratio = middle.ours / middle.reference;
    const std::string work = "analysis, " + std::to_string(fileCount) + " x " + bench::format("%.0f", length) +
                             " s MP3, " + std::to_string(atOnce) + " at once";
    bench::printResult(work, bench::timeText(middle.ours) + " (tools' CPU " + bench::timeText(middle.oursCpu) + ")",
                       "ffmpeg ebur128=peak=true one after another " + bench::timeText(middle.reference) + " (CPU " +
                           bench::timeText(middle.referenceCpu) + ")",
                       bench::format("%.2fx", ratio), "at most 0.35x", ratio <= 0.35);

    const fs::path longFile = makeFile(dir, fileCount, 10 * length);
    const long residentShort = workerResidentKiB(files[0]);
    const long residentLong = workerResidentKiB(longFile);
    std::printf("peak resident size, %.0f s file: worker %ld KiB\n", length, residentShort);
    std::printf("peak resident size, %.0f s file: worker %ld KiB\n", 10 * length, residentLong);
    const double growth = double(residentLong) / double(std::max(residentShort, 1L));
    // Flat: ten times the length costs no more than a few hundred KiB of allocator noise.
    const bool flat = residentShort > 0 && residentLong <= residentShort * 1.05 + 512;
    bench::printResult("analysis, peak resident size of the measuring worker, " + bench::format("%.0f", 10 * length) +
                           " s file against " + bench::format("%.0f", length) + " s",
                       "worker " + mebibytes(residentLong), "worker " + mebibytes(residentShort),
                       bench::format("%.2fx", growth), "flat in length", flat);
    fs::remove_all(dir);
    return 0;
}
