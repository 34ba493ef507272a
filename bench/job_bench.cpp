// A whole Adjust Volume job over generated MP3 files, in-process on the offscreen platform with
// its dialogs answered, beside the same tool commands run one after another. Built three
// times: JOB_BENCH_KIND "gain", "peak" or "rms" (RMS album).
//
//   <kind>_job_bench [files, default 8] [seconds each, default 60] [load]
//
// AURALON_MAX_JOBS sets how many files a stage works on at once (default: the usable cores).
// With "load" it also reports the program's peak resident size during the job and the longest
// time the window went without handling a 10 ms timer.
#include "BenchResult.h"

#include "analysis/Tdetectpeak.h"
#include "analysis/Trms.h"
#include "conversion/Tbatchaudioc.h"
#include "app/FileDialogs.h"
#include "app/Startup.h"
#include "app/Tmain.h"

#include <QApplication>
#include <QChildEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kKind = JOB_BENCH_KIND;
// Distinct tones made by ffmpeg; further files are copies under other names.
constexpr int kDistinctFiles = 8;

class ChosenFolder : public FileDialogs {
public:
    explicit ChosenFolder(QString folder) : folder_(std::move(folder)) {}
    QStringList openFiles(QWidget*, const QString&) override { return {}; }
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override
    {
        return folder_;
    }

private:
    QString folder_;
};

// Presses OK on every message box, as a person would.
class BoxAnswerer : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(watched))
                QTimer::singleShot(0, box, [box] { box->accept(); });
        return false;
    }
};

void run(const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(FFMPEG_EXECUTABLE), list);
    p.waitForFinished(-1);
    p.readAll();
}

void runProgram(const std::string& program, const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromStdString(program), list);
    p.waitForFinished(-1);
    p.readAll();
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A line of /proc/self/status such as "VmHWM:" in KiB, 0 when absent.
long statusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return 0;
}

// Starts the peak resident size afresh, so that VmHWM tells the job's own peak.
void resetPeakResidentSize()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

long largestChildKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

std::string mebibytes(long kib)
{
    return bench::format("%.1f MiB", kib / 1024.0);
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Command {
    std::string program;
    std::vector<std::string> args;
};

// Notes every command the job runs: a per-row run is created as a child of its stage dialog
// right after the row was prepared, and the normaliser's stage timer fires before its handler
// sees the timeout.
class CommandRecorder : public QObject {
public:
    CommandRecorder(Tmain& main, std::vector<Command>& commands) : main_(main), commands_(commands) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer && watched == main_.rms->timer_dorms)
            commands_.push_back({AURALON_BIN_DIR "/qvx/client", main_.normalizerArgs()});
        else if (event->type() == QEvent::ChildAdded
                 && !static_cast<QChildEvent*>(event)->child()->isWidgetType())
            commands_.push_back({FFMPEG_EXECUTABLE, main_.tool_args});
        return false;
    }

private:
    Tmain& main_;
    std::vector<Command>& commands_;
};

// The reference: the very commands the job ran, straight after one another.
double referenceRun(const std::vector<Command>& commands)
{
    const auto start = Clock::now();
    for (const Command& c : commands)
        runProgram(c.program, c.args);
    return seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("AURALON_WINDOWS_DIR", AURALON_BIN_DIR, 1);
    QApplication app(argc, argv);
    const int fileCount = bench::sizeArgument(argc, argv, 1, 8);
    const double length = bench::secondsArgument(argc, argv, 2, 60.0);
    const bool load = argc > 3 && std::string(argv[3]) == "load";

    const fs::path dir = fs::temp_directory_path() / ("auralon_" + kKind + "_job_bench");
    fs::remove_all(dir);
    fs::create_directories(dir / "out");
    std::vector<fs::path> sources;
    for (int i = 0; i < fileCount; ++i) {
        sources.push_back(dir / ("tone" + std::to_string(i) + ".mp3"));
        if (i >= kDistinctFiles) {
            fs::copy_file(sources[i % kDistinctFiles], sources.back());
            continue;
        }
        run({"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             "aevalsrc=0.1*sin(2*PI*(300+" + std::to_string(50 * i) + ")*t)|0.1*sin(2*PI*440*t):s=44100:d=" +
                 std::to_string(length),
             sources.back().string()});
    }

    BoxAnswerer answerer;
    app.installEventFilter(&answerer);
    Startup startup;
    Tmain& main = startup.mainWindow();
    ChosenFolder chosen(QString::fromStdString((dir / "out").string()));
    main.setFileDialogs(&chosen);
    for (const fs::path& s : sources)
        main.add_file_b(QString::fromStdString(s.string()));
    if (kKind == "gain") {
        main.radio_changegain->setChecked(true);
        main.edit_volumegain->setText(QStringLiteral("6"));
    } else if (kKind == "peak") {
        main.radio_peak_trackgain->setChecked(true);
    } else {
        main.radio_collectively->setChecked(true);
    }

    std::vector<Command> commands;
    CommandRecorder recorder(main, commands);
    for (QObject* watched : std::initializer_list<QObject*>{main.batchaudioc, main.detectpeak,
                                                            main.rms->timer_dorms})
        watched->installEventFilter(&recorder);

    // The window's responsiveness: how long a 10 ms timer waited at most between two ticks.
    QElapsedTimer sinceTick;
    double longestGapMs = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });

    const long residentBeforeKiB = statusKiB("VmRSS:");
    resetPeakResidentSize();
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    ticker.start();
    sinceTick.start();
    main.BitBtn1->click();
    while (main.jobActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
    ticker.stop();
    const double jobSeconds = seconds(Clock::now() - start);
    const double cpu = cpuSeconds() - cpuBefore;
    const long peakKiB = statusKiB("VmHWM:");
    const long childKiB = largestChildKiB();
    main.setFileDialogs(nullptr);

    int outputs = 0;
    for (const auto& entry : fs::directory_iterator(dir / "out"))
        outputs += entry.is_regular_file();

    const double reference = referenceRun(commands);
    const double ratio = jobSeconds / reference;
    const int atOnce = main.filesAtOnce();
    const std::string work = std::string(kKind == "rms" ? "RMS album" : kKind) + " job, " +
                             std::to_string(fileCount) + " x " + bench::format("%g", length) +
                             " s MP3, " + std::to_string(atOnce) + " at once";
    // With one run at a time the job may cost only a little more than the plain commands; with
    // two cores busy it must come close to halving them.
    double target = 1.05;
    if (atOnce >= 2)
        target = kKind == "gain" ? (load ? 0.65 : 0.60) : (kKind == "rms" && load ? 0.70 : 0.65);
    std::printf("%s (%d outputs)\n", work.c_str(), outputs);
    std::printf("  Auralon job:        %8.3f s (own CPU %.3f s = %.1f %% of one core)\n", jobSeconds,
                cpu, 100.0 * cpu / jobSeconds);
    std::printf("  plain ffmpeg runs:  %8.3f s\n", reference);
    std::printf("  ratio:              %8.3f (target <= %.2f; own CPU target < 5 %%)\n", ratio, target);
    std::printf("  peak resident size: %8.1f MiB during the job (%.1f MiB before it)\n",
                peakKiB / 1024.0, residentBeforeKiB / 1024.0);
    std::printf("  largest tool run:   %8.1f MiB\n", childKiB / 1024.0);
    std::printf("  longest gap of a 10 ms timer: %.1f ms\n", longestGapMs);
    const bool complete = outputs == fileCount;
    if (!complete)
        std::printf("  only %d of %d outputs were written\n", outputs, fileCount);
    bench::printResult(work + (load ? " (load)" : ""), bench::timeText(jobSeconds),
                       "same commands one after another " + bench::timeText(reference),
                       bench::format("%.2fx", ratio), bench::format("at most %.2fx", target),
                       complete && ratio <= target);
    if (load) {
        bench::printResult(work + ", peak resident size during the job",
                           mebibytes(peakKiB) + " (" + mebibytes(residentBeforeKiB) + " before)",
                           "largest tool run " + mebibytes(childKiB), "-", "-", std::nullopt);
        bench::printResult(work + ", longest gap of a 10 ms timer",
                           bench::timeText(longestGapMs / 1000.0), "-", "-", "-", std::nullopt);
    }
    fs::remove_all(dir);
    return complete ? 0 : 1;
}
