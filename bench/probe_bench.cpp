// Probing small files in-process against one ffprobe run per file.
//
//   probe_bench [files, default 200]
#include "BenchResult.h"

#include "base/ProgramFolders.h"
#include "media/TFFEncoder.h"

#include <QProcess>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int fileCount = 200;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool run(const char* program, const QStringList& args, QByteArray* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForFinished(60000))
        return false;
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Three one-second tones, copied under many names: every copy is probed like a new file.
std::vector<std::string> makeFiles(const fs::path& folder)
{
    const char* kinds[] = {"mp3", "flac", "wav"};
    for (const char* kind : kinds) {
        const QString out = QString::fromStdString((folder / (std::string("base.") + kind)).string());
        if (!run(FFMPEG_EXECUTABLE, {"-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f",
                                     "lavfi", "-i", "sine=frequency=440:duration=1", out}))
            return {};
    }
    std::vector<std::string> files;
    for (int i = 0; i < fileCount; ++i) {
        const std::string kind = kinds[i % 3];
        fs::path file = folder / ("file" + std::to_string(i) + "." + kind);
        fs::copy_file(folder / ("base." + kind), file);
        files.push_back(file.string());
    }
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    fileCount = bench::sizeArgument(argc, argv, 1, fileCount);
    std::string pattern = (fs::temp_directory_path() / "auralon-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const fs::path folder = pattern;
    const std::vector<std::string> files = makeFiles(folder);
    if (files.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the test files\n");
        fs::remove_all(folder);
        return 1;
    }

    TFFEncoder host;
    auto start = Clock::now();
    const bool loaded = host.LoadFFmpeg(program_folders::libraryFolderA()) ||
                        host.LoadFFmpeg(program_folders::libraryFolderB());
    const double loadMs = millisecondsSince(start);
    if (!loaded) {
        std::fprintf(stderr, "libraries not loaded: %s\n", host.LastError().c_str());
        fs::remove_all(folder);
        return 1;
    }

    TFFDecoder& probe = host.Decoder();
    int failures = 0;
    start = Clock::now();
    for (const std::string& file : files) {
        TFileStreamInfo fileInfo;
        TAudioStreamInfo audio;
        TVideoStreamInfo video;
        if (!probe.LoadFile(file))
            ++failures;
        probe.GetFileInfo(fileInfo);
        probe.GetAudioStreamInfo(audio);
        probe.GetVideoStreamInfo(video);
    }
    probe.CloseFile();
    const double probeMs = millisecondsSince(start);

    start = Clock::now();
    for (const std::string& file : files) {
        QByteArray output;
        if (!run(FFPROBE_EXECUTABLE, {"-v", "error", "-show_format", "-show_streams",
                                      QString::fromStdString(file)}, &output))
            ++failures;
    }
    const double ffprobeMs = millisecondsSince(start);
    fs::remove_all(folder);

    std::printf("probe_bench: %d files (1 s MP3/FLAC/WAV), %d failures\n", fileCount, failures);
    std::printf("  library load (all eight):          %8.2f ms\n", loadMs);
    std::printf("  in-process probe, per file:        %8.3f ms\n", probeMs / fileCount);
    std::printf("  ffprobe run, per file:             %8.3f ms\n", ffprobeMs / fileCount);
    std::printf("  ratio (ffprobe / in-process):      %8.1fx (target: at least 10x)\n",
                ffprobeMs / probeMs);
    const double speedUp = ffprobeMs / probeMs;
    bench::printResult("probe, " + std::to_string(fileCount) + " files of 1 s (MP3/FLAC/WAV), per file",
                       bench::timeText(probeMs / fileCount / 1000.0),
                       "ffprobe " + bench::timeText(ffprobeMs / fileCount / 1000.0),
                       bench::format("%.1fx faster", speedUp), "at least 10x faster",
                       failures == 0 && speedUp >= 10.0);
    return failures == 0 ? 0 : 1;
}
