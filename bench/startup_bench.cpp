// Start-up time: from the splash to the main window shown, with the real start-up sequence
// in this process (the first run includes loading the FFmpeg libraries), and `auralon-cli
// --help` as a whole process, beside starting plain ffmpeg once.
#include "BenchResult.h"

#include "app/Startup.h"
#include "app/Tmain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double startOnce()
{
    QElapsedTimer clock;
    clock.start();
    Startup windows;
    const bool shown = QTest::qWaitForWindowExposed(&windows.mainWindow());
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (!shown)
        std::printf("  (the main window was not reported exposed)\n");
    return ms;
}

double plainFfmpegMs()
{
    QElapsedTimer clock;
    clock.start();
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FFMPEG_EXECUTABLE), {QStringLiteral("-hide_banner"), QStringLiteral("-version")});
    ffmpeg.waitForFinished(30000);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The whole process: start, help printed, exit.
double commandLineHelpMs()
{
    const std::string program = AURALON_BIN_DIR "/auralon-cli";
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--help"), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv, environ) == 0)
        ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&quiet);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const double first = startOnce();
    constexpr int kRepeats = 5;
    double again = 0;
    for (int i = 0; i < kRepeats; ++i)
        again += startOnce();
    double ffmpeg = 0;
    for (int i = 0; i < kRepeats; ++i)
        ffmpeg += plainFfmpegMs();

    std::printf("start-up to the main window shown (platform %s)\n",
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("  first start, libraries loaded:     %8.1f ms\n", first);
    std::printf("  later starts, mean of %d:           %8.1f ms\n", kRepeats, again / kRepeats);
    std::printf("  plain 'ffmpeg -version', mean of %d: %8.1f ms\n", kRepeats, ffmpeg / kRepeats);
    const double ffmpegMean = ffmpeg / kRepeats;
    const std::string reference = "'ffmpeg -version' " + bench::timeText(ffmpegMean / 1000.0);
    bench::printResult("start-up to the main window shown, first (libraries loaded)",
                       bench::timeText(first / 1000.0), reference,
                       bench::format("%.1fx", first / ffmpegMean), "-", std::nullopt);
    bench::printResult("start-up to the main window shown, later starts (mean of " + std::to_string(kRepeats) + ")",
                       bench::timeText(again / kRepeats / 1000.0), reference,
                       bench::format("%.1fx", again / kRepeats / ffmpegMean), "-", std::nullopt);

    constexpr int kHelpRepeats = 20;
    double help = 0;
    for (int i = 0; i < kHelpRepeats; ++i)
        help += commandLineHelpMs();
    help /= kHelpRepeats;
    std::printf("  'auralon-cli --help', mean of %d:   %8.1f ms\n", kHelpRepeats, help);
    bench::printResult("auralon-cli --help, mean of " + std::to_string(kHelpRepeats), bench::timeText(help / 1000.0),
                       reference, bench::format("%.2fx", help / ffmpegMean), "under 50 ms", help < 50.0);
    return 0;
}
