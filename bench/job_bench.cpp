// A whole Adjust Volume job over 8 one-minute MP3 files, in-process on the offscreen
// platform with its dialogs answered, beside the same tool commands run one after another.
// Built three times: JOB_BENCH_KIND "gain", "peak" or "rms".
#include "analysis/Tdetectpeak.h"
#include "analysis/Trms.h"
#include "conversion/Tbatchaudioc.h"
#include "app/FileDialogs.h"
#include "app/Startup.h"
#include "app/Tmain.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 8;
const std::string kKind = JOB_BENCH_KIND;

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

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Command {
    std::string program;
    std::vector<std::string> args;
};

// Notes the command a stage's timer is about to run: the timer event reaches this filter
// before the stage's handler sees the timeout.
class CommandRecorder : public QObject {
public:
    CommandRecorder(Tmain& main, std::vector<Command>& commands) : main_(main), commands_(commands) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Timer)
            return false;
        if (watched == main_.rms->timer_dorms)
            commands_.push_back({AURALON_BIN_DIR "/qvx/client", main_.normalizerArgs()});
        else
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

    const fs::path dir = fs::temp_directory_path() / ("auralon_" + kKind + "_job_bench");
    fs::remove_all(dir);
    fs::create_directories(dir / "out");
    std::vector<fs::path> sources;
    for (int i = 0; i < kFiles; ++i) {
        sources.push_back(dir / ("tone" + std::to_string(i) + ".mp3"));
        run({"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             "aevalsrc=0.1*sin(2*PI*(300+" + std::to_string(50 * i) + ")*t)|0.1*sin(2*PI*440*t):s=44100:d=60",
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
    for (QObject* timer : std::initializer_list<QObject*>{main.batchaudioc->timer_doconvert,
                                                          main.detectpeak->timer_dodetect,
                                                          main.rms->timer_dorms})
        timer->installEventFilter(&recorder);

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    main.BitBtn1->click();
    while (main.jobActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double jobSeconds = seconds(Clock::now() - start);
    const double cpu = cpuSeconds() - cpuBefore;
    main.setFileDialogs(nullptr);

    const double reference = referenceRun(commands);
    const double ratio = jobSeconds / reference;
    std::printf("%s job, %d x 60 s MP3\n", kKind.c_str(), kFiles);
    std::printf("  Auralon job:        %8.3f s (own CPU %.3f s = %.1f %% of one core)\n", jobSeconds,
                cpu, 100.0 * cpu / jobSeconds);
    std::printf("  plain ffmpeg runs:  %8.3f s\n", reference);
    std::printf("  ratio:              %8.3f (target <= 1.05; own CPU target < 5 %%)\n", ratio);
    fs::remove_all(dir);
    return 0;
}
