// A whole Adjust Volume job over generated MP3 files, in-process on the offscreen platform with
// its dialogs answered, with every output checked and with the check off, beside the same job
// run by auralon-cli (with and without --no-check), the job's own tool commands (which check
// nothing) run one after another and, with several files at once, as many at once by a bare
// pool of threads.
// Three rounds of them. Built four times: JOB_BENCH_KIND "gain", "peak", "rms" (RMS album) or
// "tags": the RMS album job with loudness tags only, beside the same job writing adjusted audio.
//
//   <kind>_job_bench [files, default 8] [seconds each, default 60] [load | loudnorm]
//
// With "loudnorm" it times instead the RMS track job on music-like files against two passes of
// ffmpeg's loudnorm per file.
// AURALON_MAX_JOBS sets how many files a stage works on at once (default: the usable cores).
// With "load" it also reports the program's peak resident size during the job and the longest
// time the window went without handling a 10 ms timer.
#include "BenchResult.h"

#include "app/FileDialogs.h"
#include "app/Startup.h"
#include "app/Tmain.h"
#include "app/Toptions.h"
#include "job/Job.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kKind = JOB_BENCH_KIND;
// Distinct tones made by ffmpeg; further files are copies under other names.
constexpr int kDistinctFiles = 8;
// Each round runs the job and its references once.
constexpr int kRounds = 3;

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

// Presses OK (or the default button) on every message box, as a person would.
class BoxAnswerer : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(watched))
                QTimer::singleShot(0, box, [box] {
                    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                        ok->click();
                    else if (QAbstractButton* chosen = box->defaultButton())
                        chosen->click();
                    else
                        box->accept();
                });
        return false;
    }
};

// Runs a program to its end and returns what it printed.
std::string runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input = {})
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromStdString(program), list);
    p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    p.waitForFinished(-1);
    return p.readAll().toStdString();
}

std::string run(const std::vector<std::string>& args)
{
    return runProgram(FFMPEG_EXECUTABLE, args);
}

// The value of "key" : "value" in loudnorm's JSON summary.
std::string jsonValue(const std::string& text, const std::string& key)
{
    const std::size_t at = text.rfind("\"" + key + "\"");
    const std::size_t open = at == std::string::npos ? at : text.find('"', text.find(':', at) + 1);
    const std::size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    return close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
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

// The job by the command line: its wall time and its own CPU time (not its tools').
struct CommandLineRun {
    double seconds = 0;
    double cpu = 0;
    bool ok = false;
};

CommandLineRun runCommandLine(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    const std::string program = AURALON_BIN_DIR "/auralon-cli";
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    CommandLineRun run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&quiet);
    if (!spawned)
        return run;
    // Ended but not yet reaped, its /proc entry still holds its own CPU times.
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));  // after "pid (name) "
    std::string field;
    long ticks = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n)
        if (n >= 14)  // utime, stime
            ticks += std::atol(field.c_str());
    run.cpu = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

struct Command {
    std::string program;
    std::vector<std::string> args;
    bool wholeList = false;  // the normaliser's one run over every copy
    std::string input;       // its standard input
};

// Notes every command the job runs, as the job tells them: what a shell would run, checking
// nothing.
void recordCommands(Tmain& main, std::vector<Command>& commands)
{
    QObject::connect(&main, &Tmain::jobStarted, [&commands](Job* job) {
        QObject::connect(job, &Job::toolStarted,
                         [&commands, job](const std::string& tool, const std::vector<std::string>& arguments) {
                             commands.push_back({tool, arguments, tool == job->settings().normaliser, {}});
                         });
    });
}

// The reference: the very commands the job ran, straight after one another.
double referenceRun(const std::vector<Command>& commands)
{
    const auto start = Clock::now();
    for (const Command& c : commands)
        runProgram(c.program, c.args, c.input);
    return seconds(Clock::now() - start);
}

// What the machine allows: the same commands, `atOnce` per-file runs at a time, each started
// as soon as one ends, by threads that do nothing else; the normaliser's one run on its own,
// in its place. Short files gain less than the cores promise, since ffmpeg's start-up (loading
// its libraries) does not scale with them.
double parallelReferenceRun(const std::vector<Command>& commands, int atOnce)
{
    const auto start = Clock::now();
    std::size_t begin = 0;
    auto runSpan = [&](std::size_t end) {
        std::atomic<std::size_t> next{begin};
        std::vector<std::thread> workers;
        for (int w = 0; w < atOnce; ++w)
            workers.emplace_back([&] {
                for (std::size_t i; (i = next++) < end;)
                    runProgram(commands[i].program, commands[i].args, commands[i].input);
            });
        for (std::thread& t : workers)
            t.join();
        begin = end;
    };
    for (std::size_t i = 0; i < commands.size(); ++i)
        if (commands[i].wholeList) {
            runSpan(i);
            runProgram(commands[i].program, commands[i].args, commands[i].input);
            begin = i + 1;
        }
    runSpan(commands.size());
    return seconds(Clock::now() - start);
}

// Runs the window's job over its list into `out`, from the event loop as in the program (an idle
// loop waits, it does not poll); the number of files written.
int runWindowJob(Tmain& main, const fs::path& out)
{
    fs::create_directories(out);
    ChosenFolder chosen(QString::fromStdString(out.string()));
    main.setFileDialogs(&chosen);
    QEventLoop untilEnded;
    QObject::connect(&main, &Tmain::jobEnded, &untilEnded, &QEventLoop::quit);
    main.BitBtn1->click();
    if (main.jobActive())
        untilEnded.exec();
    main.setFileDialogs(nullptr);
    int outputs = 0;
    for (const auto& entry : fs::directory_iterator(out))
        outputs += entry.is_regular_file();
    return outputs;
}

// Tags only measures and copies, encoding nothing: the RMS album job writing tags against the
// same job writing adjusted audio, each round both, the first of them alternating.
int tagsBench(Tmain& main, const fs::path& dir, int fileCount, const std::string& work)
{
    constexpr double kTarget = 0.40;
    main.radio_collectively->setChecked(true);
    std::vector<std::pair<double, double>> rounds;  // tags, adjusted
    bool complete = true;
    for (int r = 0; r < kRounds; ++r) {
        std::pair<double, double> round;
        for (int k = 0; k < 2; ++k) {
            const bool tags = (k == 0) == (r % 2 == 0);
            main.options->cb_writing->setCurrentIndex(tags ? 1 : 0);
            const auto start = Clock::now();
            complete = runWindowJob(main, dir / ((tags ? "tags" : "adjusted") + std::to_string(r))) == fileCount
                       && complete;
            (tags ? round.first : round.second) = seconds(Clock::now() - start);
        }
        std::printf("  round: tags only %.3f s, adjusted audio %.3f s, ratio %.3f\n", round.first, round.second,
                    round.first / round.second);
        rounds.push_back(round);
    }
    std::sort(rounds.begin(), rounds.end(),
              [](const auto& a, const auto& b) { return a.first / a.second < b.first / b.second; });
    const auto& [tags, adjusted] = rounds[rounds.size() / 2];
    bench::printResult(work, bench::timeText(tags), "the adjusted-audio RMS album job " + bench::timeText(adjusted),
                       bench::format("%.2fx", tags / adjusted), bench::format("at most %.2fx", kTarget),
                       complete && tags / adjusted <= kTarget);
    fs::remove_all(dir);
    return complete ? 0 : 1;
}



// The RMS track job on music-like files (pink noise under a slow swell, a kick of real crest
// factor, mastered over full scale), checked, with the sources measured while idle, against
// what a shell does with ffmpeg alone: two passes of loudnorm per file to the same level and
// ceiling, one file after another.
int loudnormBench(Tmain& main, const fs::path& dir, int fileCount, double length)
{
    constexpr double kTarget = 0.12;
    std::vector<fs::path> songs;
    const std::string duration = bench::format("%g", length);
    for (int i = 0; i < fileCount; ++i) {
        songs.push_back(dir / ("song" + std::to_string(i) + ".mp3"));
        run({"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             "anoisesrc=c=pink:a=0.3:seed=" + std::to_string(i + 1) + ":d=" + duration
                 + ",lowpass=f=9000,volume='0.55+0.45*sin(2*PI*0.2*t)':eval=frame",
             "-f", "lavfi", "-i",
             "aevalsrc='0.95*sin(2*PI*" + std::to_string(50 + 5 * i) + "*t)*exp(-14*mod(t,0.5))':s=44100:d=" + duration,
             "-filter_complex", "[0][1]amix=inputs=2:normalize=0,aformat=channel_layouts=stereo", "-ar", "44100",
             "-b:a", "192k", songs.back().string()});
    }
    main.btn_clearClick();
    for (const fs::path& s : songs)
        main.add_file_b(QString::fromStdString(s.string()));
    main.radio_singularly->setChecked(true);
    main.options->cb_loudnesstarget->setCurrentIndex(0);
    main.options->cbk_checkoutputs->setChecked(true);
    const tool_contracts::LoudnessTarget level = tool_contracts::kLoudnessTargets[0];
    while (main.measuringWhileIdle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::vector<std::pair<double, double>> rounds;  // the job, loudnorm
    bool complete = true;
    for (int r = 0; r < kRounds; ++r) {
        const auto start = Clock::now();
        complete = runWindowJob(main, dir / ("track" + std::to_string(r))) == fileCount && complete;
        const double job = seconds(Clock::now() - start);
        fs::remove_all(dir / ("track" + std::to_string(r)));
        const fs::path out = dir / ("loudnorm" + std::to_string(r));
        fs::create_directories(out);
        const std::string aim = "loudnorm=I=" + bench::format("%g", level.lufs) + ":TP=" + bench::format("%g", level.ceilingDbtp);
        const auto shell = Clock::now();
        for (const fs::path& song : songs) {
            const std::string first = run({"-hide_banner", "-nostats", "-i", song.string(), "-af",
                                                    aim + ":print_format=json", "-f", "null", "-"});
            run({"-hide_banner", "-loglevel", "error", "-y", "-i", song.string(), "-af",
                          aim + ":measured_I=" + jsonValue(first, "input_i") + ":measured_TP=" + jsonValue(first, "input_tp")
                              + ":measured_LRA=" + jsonValue(first, "input_lra") + ":measured_thresh="
                              + jsonValue(first, "input_thresh") + ":offset=" + jsonValue(first, "target_offset")
                              + ":linear=true",
                          "-ar", "44100", (out / song.filename()).string()});
        }
        const double loudnorm = seconds(Clock::now() - shell);
        fs::remove_all(out);
        std::printf("  round: RMS track job %.3f s, two-pass loudnorm one after another %.3f s, ratio %.3f\n", job,
                    loudnorm, job / loudnorm);
        rounds.emplace_back(job, loudnorm);
    }
    std::sort(rounds.begin(), rounds.end(),
              [](const auto& a, const auto& b) { return a.first / a.second < b.first / b.second; });
    const auto& [job, loudnorm] = rounds[rounds.size() / 2];
    bench::printResult("RMS track job on music-like files, checked, " + std::to_string(fileCount) + " x "
                           + duration + " s MP3, " + std::to_string(main.filesAtOnce()) + " at once",
                       bench::timeText(job), "two-pass loudnorm one after another " + bench::timeText(loudnorm),
                       bench::format("%.2fx", job / loudnorm), bench::format("at most %.2fx", kTarget),
                       complete && job / loudnorm <= kTarget);
    fs::remove_all(dir);
    return complete ? 0 : 1;
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
    const bool loudnorm = argc > 3 && std::string(argv[3]) == "loudnorm";

    const fs::path dir = fs::temp_directory_path() / ("auralon_" + kKind + "_job_bench");
    fs::remove_all(dir);
    fs::create_directories(dir);
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
    for (const fs::path& s : sources)
        main.add_file_b(QString::fromStdString(s.string()));
    if (kKind == "gain") {
        main.radio_changegain->setChecked(true);
        main.edit_volumegain->setText(QStringLiteral("6"));
    } else if (kKind == "peak") {
        main.radio_peak_trackgain->setChecked(true);
    } else if (loudnorm) {
        return loudnormBench(main, dir, fileCount, length);
    } else if (kKind == "tags") {
        return tagsBench(main, dir, fileCount,
                         "RMS album job with loudness tags only, " + std::to_string(fileCount) + " x "
                             + bench::format("%g", length) + " s MP3, " + std::to_string(main.filesAtOnce())
                             + " at once");
    } else {
        main.radio_collectively->setChecked(true);
    }

    std::vector<Command> commands;
    recordCommands(main, commands);
    // A person chooses a mode and a folder before the job: the window measures the list then.
    while (main.measuringWhileIdle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    // The window's responsiveness: how long a 10 ms timer waited at most between two ticks.
    QElapsedTimer sinceTick;
    double longestGapMs = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });

    // The machine's speed drifts by a tenth and more within minutes: each round runs the job
    // and then its reference runs, and the table takes the middle round by ratio.
    struct Round {
        double job = 0, cpu = 0, unchecked = 0, reference = 0, pooled = 0;
        CommandLineRun cli, cliUnchecked;
        int outputs = 0;
        double ratio() const { return job / reference; }
        double uncheckedRatio() const { return unchecked / reference; }
        double checkCost() const { return job / unchecked - 1.0; }
        double cliRatio() const { return cli.seconds / reference; }
        double cliCheckCost() const { return cli.seconds / cliUnchecked.seconds - 1.0; }
    };
    std::vector<Round> rounds;
    const int atOnce = main.filesAtOnce();
    const long residentBeforeKiB = statusKiB("VmRSS:");
    long peakKiB = 0;
    int outputs = fileCount;
    bool cliDone = true;
    for (int r = 0; r < kRounds; ++r) {
        resetPeakResidentSize();
        Round round;
        auto byWindow = [&](bool checked) {
            const fs::path out = dir / ((checked ? "out" : "unchecked") + std::to_string(r));
            main.options->cbk_checkoutputs->setChecked(checked);
            // The reference is what the unchecked job ran (a checked one may run rows again).
            if (!checked)
                commands.clear();
            const std::size_t recorded = commands.size();
            const double cpuBefore = cpuSeconds();
            const auto start = Clock::now();
            ticker.start();
            sinceTick.start();
            outputs = std::min(outputs, runWindowJob(main, out));
            longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
            ticker.stop();
            (checked ? round.job : round.unchecked) = seconds(Clock::now() - start);
            if (checked)
                round.cpu = cpuSeconds() - cpuBefore;
            if (checked && !load)
                commands.resize(recorded);
        };
        // The same job by the command line, into a folder of its own. A miss the check reports
        // ends it with 1: done means every output written.
        auto byCommandLine = [&](bool checked) {
            const fs::path cliOut = dir / ("cli" + std::to_string(r));
            fs::create_directories(cliOut);
            std::vector<std::string> args{kKind == "gain" ? "--gain=6" : kKind == "peak" ? "--peak" : "--album",
                                          "-q", "-j", std::to_string(atOnce), "-o", cliOut.string()};
            if (!checked)
                args.push_back("--no-check");
            for (const fs::path& source : sources)
                args.push_back(source.string());
            (checked ? round.cli : round.cliUnchecked) = runCommandLine(args);
            cliDone = cliDone
                      && std::distance(fs::directory_iterator(cliOut), fs::directory_iterator()) == fileCount;
            fs::remove_all(cliOut);
        };
        // The reference runs write where the unchecked job wrote.
        auto removeOutputs = [&] {
            for (const char* name : {"out", "unchecked"})
                fs::remove_all(dir / (name + std::to_string(r)));
        };
        // Each order turned from one round to the next, so that the machine's drift favours
        // neither.
        const bool first = r % 2 == 0;
        if (load) {
            commands.clear();
            byWindow(true);
        } else {
            byWindow(first);
            byWindow(!first);
            byCommandLine(first);
            byCommandLine(!first);
        }
        peakKiB = std::max(peakKiB, statusKiB("VmHWM:"));
        round.reference = referenceRun(commands);
        if (atOnce >= 2)
            round.pooled = parallelReferenceRun(commands, atOnce);
        removeOutputs();
        rounds.push_back(round);
    }
    const long childKiB = largestChildKiB();
    // Each figure from its own middle round.
    auto middleBy = [&rounds](double (Round::*figure)() const) {
        std::vector<Round> sorted = rounds;
        std::sort(sorted.begin(), sorted.end(),
                  [figure](const Round& a, const Round& b) { return (a.*figure)() < (b.*figure)(); });
        return sorted[sorted.size() / 2];
    };
    const Round middle = middleBy(&Round::ratio);
    const double ratio = middle.ratio();
    const double ownShare = 100.0 * middle.cpu / middle.job;

    const std::string work = std::string(kKind == "rms" ? "RMS album" : kKind) + " job, " +
                             std::to_string(fileCount) + " x " + bench::format("%g", length) +
                             " s MP3, " + std::to_string(atOnce) + " at once";
    // With one run at a time the job may cost only a little more than the plain commands; with
    // two cores busy it must come close to halving them. The check may add a tenth where the
    // job measures the sources itself, a fifth where it decodes them once more.
    double target = 1.10, uncheckedTarget = 1.05;
    if (atOnce >= 2) {
        target = load ? (kKind == "rms" ? 0.70 : 0.65) : 0.65;
        uncheckedTarget = kKind == "gain" ? 0.60 : 0.65;
    }
    const double costTarget = kKind == "gain" ? 0.20 : 0.10;
    std::printf("%s (fewest outputs of a job: %d)\n", work.c_str(), outputs);
    for (const Round& r : rounds) {
        std::printf("  round: job %.3f s (own CPU %.1f %% of one core), check off %.3f s, one after another"
                    " %.3f s, ratios %.3f and %.3f",
                    r.job, 100.0 * r.cpu / r.job, r.unchecked, r.reference, r.ratio(), r.uncheckedRatio());
        if (atOnce >= 2)
            std::printf("; a bare pool of %d %.3f s, ratio %.3f", atOnce, r.pooled,
                        r.pooled / r.reference);
        if (!load)
            std::printf("; auralon-cli %.3f s (own CPU %.2f %%), --no-check %.3f s", r.cli.seconds,
                        100.0 * r.cli.cpu / r.cli.seconds, r.cliUnchecked.seconds);
        std::printf("\n");
    }
    std::printf("  middle ratio:       %8.3f (target <= %.2f; own CPU target < 5 %%)\n", ratio, target);
    std::printf("  peak resident size: %8.1f MiB during a job (%.1f MiB before it)\n",
                peakKiB / 1024.0, residentBeforeKiB / 1024.0);
    std::printf("  largest tool run:   %8.1f MiB\n", childKiB / 1024.0);
    std::printf("  longest gap of a 10 ms timer: %.1f ms\n", longestGapMs);
    const bool complete = outputs == fileCount;
    if (!complete)
        std::printf("  only %d of %d outputs were written\n", outputs, fileCount);
    const std::string reference = "same commands one after another ";
    bench::printResult(work + (load ? " (load)" : ""),
                       bench::timeText(middle.job) + bench::format(" (own CPU %.1f %%)", ownShare),
                       reference + bench::timeText(middle.reference), bench::format("%.2fx", ratio),
                       bench::format("at most %.2fx", target), complete && ratio <= target && ownShare < 5.0);
    if (atOnce >= 2)
        bench::printResult(work + ", the same commands by a bare pool of " +
                               std::to_string(atOnce) + " (what this machine allows)",
                           bench::timeText(middle.pooled),
                           "same commands one after another " + bench::timeText(middle.reference),
                           bench::format("%.2fx", middle.pooled / middle.reference), "-",
                           std::nullopt);
    if (!load) {
        const Round off = middleBy(&Round::uncheckedRatio);
        bench::printResult(work + ", the check off", bench::timeText(off.unchecked),
                           reference + bench::timeText(off.reference), bench::format("%.2fx", off.uncheckedRatio()),
                           bench::format("at most %.2fx", uncheckedTarget),
                           complete && off.uncheckedRatio() <= uncheckedTarget);
        const Round cost = middleBy(&Round::checkCost);
        bench::printResult(work + ", what the check adds", bench::timeText(cost.job),
                           "the check off " + bench::timeText(cost.unchecked),
                           bench::format("%+.1f %%", 100.0 * cost.checkCost()),
                           bench::format("at most +%.0f %%", 100.0 * costTarget),
                           complete && cost.checkCost() <= costTarget);
        const Round m = middleBy(&Round::cliRatio);
        const double cliShare = 100.0 * m.cli.cpu / m.cli.seconds;
        bench::printResult(work + " by auralon-cli",
                           bench::timeText(m.cli.seconds) + bench::format(" (own CPU %.2f %%)", cliShare),
                           reference + bench::timeText(m.reference), bench::format("%.2fx", m.cliRatio()),
                           bench::format("at most %.2fx, own CPU under 3 %%", target),
                           cliDone && m.cliRatio() <= target && cliShare < 3.0);
        const Round c = middleBy(&Round::cliCheckCost);
        bench::printResult(work + " by auralon-cli, what the check adds", bench::timeText(c.cli.seconds),
                           "--no-check " + bench::timeText(c.cliUnchecked.seconds),
                           bench::format("%+.1f %%", 100.0 * c.cliCheckCost()),
                           bench::format("at most +%.0f %%", 100.0 * costTarget),
                           cliDone && c.cliCheckCost() <= costTarget);
    }
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
