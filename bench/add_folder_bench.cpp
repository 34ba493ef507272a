// "Add Files from Folder" on generated files, from the click to the last row filled, beside
// ffprobe run on the same files one by one; and how long the window went without handling a
// 10 ms timer meanwhile.
//
//   add_folder_bench [files, default 500]
#include "BenchResult.h"

#include "app/FileDialogs.h"
#include "app/Tmain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// Always chooses the one folder.
class FixedFolder final : public FileDialogs {
public:
    explicit FixedFolder(QString folder) : folder_(std::move(folder)) {}
    QStringList openFiles(QWidget*, const QString&) override { return {}; }
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override
    {
        return folder_;
    }

private:
    QString folder_;
};

bool run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

double ms(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int fileCount = bench::sizeArgument(argc, argv, 1, 500);

    char pattern[] = "/tmp/auralon-add-folder-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const fs::path folder(pattern);
    const fs::path first = folder / "track0000.mp3";
    if (!run(QStringLiteral(FFMPEG_EXECUTABLE),
             {"-hide_banner", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
              "sine=frequency=440:duration=2", "-c:a", "libmp3lame", QString::fromStdString(first)})) {
        std::fprintf(stderr, "ffmpeg could not make the test file\n");
        return 1;
    }
    for (int i = 1; i < fileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track%04d.mp3", i);
        fs::copy_file(first, folder / name);
    }

    FixedFolder dialogs(QString::fromStdString(folder.string()));
    Tmain window;
    window.setFileDialogs(&dialogs);
    window.show();
    QCoreApplication::processEvents();

    QElapsedTimer sinceTick;
    double longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, ms(sinceTick));
        sinceTick.restart();
    });
    ticker.start();
    sinceTick.start();

    QElapsedTimer clock;
    clock.start();
    window.btn_openfolder->click();
    const double addMs = ms(clock);
    longestGap = std::max(longestGap, ms(sinceTick));
    ticker.stop();

    const bool complete = window.rowCount() == fileCount && !window.rowCell(fileCount - 1, 2).isEmpty();

    clock.restart();
    for (const auto& entry : fs::directory_iterator(folder))
        run(QStringLiteral(FFPROBE_EXECUTABLE),
            {"-v", "error", "-show_format", "-show_streams", QString::fromStdString(entry.path())});
    const double ffprobeMs = ms(clock);
    fs::remove_all(folder);

    std::printf("adding a folder of %d files (%d rows filled: %s)\n", fileCount, window.rowCount(),
                complete ? "yes" : "NO");
    std::printf("  Add Files from Folder:        %9.1f ms  (%.2f ms a file)\n", addMs, addMs / fileCount);
    std::printf("  ffprobe, one run per file:    %9.1f ms  (%.2f ms a file)\n", ffprobeMs,
                ffprobeMs / fileCount);
    std::printf("  speed-up over ffprobe:        %9.1f x   (target: at least 5 x)\n", ffprobeMs / addMs);
    std::printf("  longest gap of a 10 ms timer: %9.1f ms  (target: at most 100 ms)\n", longestGap);
    const std::string work = "Add Files from Folder, " + std::to_string(fileCount) + " MP3 files of 2 s";
    const double speedUp = ffprobeMs / addMs;
    bench::printResult(work + ", per file", bench::timeText(addMs / fileCount / 1000.0),
                       "ffprobe " + bench::timeText(ffprobeMs / fileCount / 1000.0),
                       bench::format("%.0fx faster", speedUp), "at least 5x faster",
                       complete && speedUp >= 5.0);
    bench::printResult(work + ", longest gap of a 10 ms timer", bench::timeText(longestGap / 1000.0),
                       "-", "-", "at most 100 ms", complete && longestGap <= 100.0);
    return complete ? 0 : 1;
}
