// Jobs at scale: a long list of short files through a Gain and an RMS album job, and one file
// of three hours through every mode, watching its outputs, the progress bar and the memory.
#include "JobHarness.h"

#include "app/stages/Tdetectpeak.h"
#include "app/stages/Trms.h"
#include "app/stages/Tbatchaudioc.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

// Each file costs one converter run or more, a fifth of a second of start-up each: the two
// jobs over the default list take about half an hour on two cores. AURALON_LOAD_FILES asks
// for another size (e.g. 200 for a quick run).
constexpr int kDefaultListSize = 2000;

int listSize()
{
    const char* wanted = std::getenv("AURALON_LOAD_FILES");
    const int n = wanted ? std::atoi(wanted) : 0;
    return n > 0 ? std::max(n, 4) : kDefaultListSize;  // the samples need four files
}

// Presses "Adjust Volume" with the output folder answered and waits as long as a big job
// needs.
void runBigJob(jobtest::JobHarness& h, int limitSeconds)
{
    h.dialogs().answerFolder(QString::fromStdString(h.outputFolder().string()));
    h.main().BitBtn1->click();
    [[maybe_unused]] const bool ended =
        QTest::qWaitFor([&h] { return !h.main().jobActive(); }, limitSeconds * 1000);
    ASSERT_FALSE(h.main().jobActive()) << "the job did not end within " << limitSeconds << " s";
    QCoreApplication::processEvents();
}

double number(const std::string& text, const std::string& before, const std::string& after)
{
    const auto at = text.rfind(before);
    if (at == std::string::npos)
        throw std::runtime_error("no '" + before + "' in:\n" + text);
    const std::string rest = text.substr(at + before.size());
    const auto end = rest.find(after);
    return std::stod(rest.substr(0, end));
}

// volumedetect's levels of a stretch of a file, so that a three-hour output is checked
// without decoding all of it.
testsupport::VolumeLevels volumeOf(const fs::path& file, double start, double length)
{
    const testsupport::CommandResult r = testsupport::runCommand(
        FFMPEG_EXECUTABLE, {"-hide_banner", "-nostdin", "-ss", std::to_string(start), "-t",
                            std::to_string(length), "-i", file.string(), "-af", "volumedetect",
                            "-f", "null", "-"});
    return {number(r.output, "max_volume: ", " dB"), number(r.output, "mean_volume: ", " dB")};
}

double loudnessOf(const fs::path& file, double start, double length)
{
    const testsupport::CommandResult r = testsupport::runCommand(
        FFMPEG_EXECUTABLE, {"-hide_banner", "-nostdin", "-ss", std::to_string(start), "-t",
                            std::to_string(length), "-i", file.string(), "-af", "ebur128",
                            "-f", "null", "-"});
    const auto summary = r.output.rfind("Integrated loudness:");
    if (summary == std::string::npos)
        throw std::runtime_error("no loudness summary in:\n" + r.output);
    return number(r.output.substr(summary), "I:", "LUFS");
}

double durationOf(const fs::path& file)
{
    return std::stod(testsupport::ffprobeValue(file, "format=duration"));
}

std::string bytesOf(const fs::path& file)
{
    return testsupport::readFile(file);
}

// FNV-1a over the file, read in pieces: a big file's check must not weigh on the memory
// figures.
std::uint64_t fingerprintOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::uint64_t hash = 1469598103934665603ull;
    char piece[65536];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            hash = (hash ^ static_cast<unsigned char>(piece[i])) * 1099511628211ull;
        if (!in)
            break;
    }
    return hash;
}

// ---------------------------------------------------------------------------------------
// A long list

// Two tones a few dB apart, each copied under many names: enough to tell an album gain (one
// shift for all) from a per-file one, and cheap to make.
struct ListSources {
    std::vector<fs::path> files;
    std::map<fs::path, std::string> contents;  // what every source must still hold afterwards
    fs::path loudBase, quietBase;
};

ListSources makeList(const fs::path& dir, int count)
{
    ListSources s;
    s.loudBase = dir / "base_loud.mp3";
    s.quietBase = dir / "base_quiet.mp3";
    testsupport::makeSine(s.loudBase, -12.0, 0.8);
    testsupport::makeSine(s.quietBase, -20.0, 0.8);
    const std::string loud = bytesOf(s.loudBase);
    const std::string quiet = bytesOf(s.quietBase);
    fs::create_directories(dir / "list");
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track%04d.mp3", i);
        s.files.push_back(dir / "list" / name);
        fs::copy_file(i % 2 ? s.quietBase : s.loudBase, s.files.back());
        s.contents[s.files.back()] = i % 2 ? quiet : loud;
    }
    return s;
}

TEST(LoadJob, ALongListThroughGainAndRmsAlbumGivesEveryOutputRight)
{
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
        double shiftDb;  // the one shift of every file, NAN when the job chooses it
    };
    const Row rows[] = {
        {"gain +4", &Tmain::radio_changegain, 4.0},
        {"rms album", &Tmain::radio_collectively, NAN},
    };
    const int count = listSize();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const ListSources src = makeList(h.dir().path(), count);
        h.addFiles(src.files);
        h.choose(h.main().*row.mode);
        h.main().edit_volumegain->setText(QStringLiteral("4"));

        runBigJob(h, 3600);

        EXPECT_TRUE(h.textsWithCaption(QStringLiteral("Error!")).empty());
        EXPECT_EQ(h.finishedMessages(), 1);
        // One output per source under the source's own name, nothing else left behind.
        std::set<std::string> expected, written;
        for (const fs::path& f : src.files)
            expected.insert(f.filename().string());
        for (const fs::path& f : h.filesIn(h.outputFolder()))
            written.insert(f.filename().string());
        EXPECT_EQ(written, expected);
        EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
        int changed = 0;
        for (const auto& [file, content] : src.contents)
            changed += bytesOf(file) != content;
        EXPECT_EQ(changed, 0) << "sources were modified";

        // A sample from the start, the middle and the end of the list, loud and quiet ones.
        const double loudIn = testsupport::measureVolume(src.loudBase).meanDb;
        const double quietIn = testsupport::measureVolume(src.quietBase).meanDb;
        std::vector<double> shifts;
        for (int i : {0, 1, count / 2, count / 2 + 1, count - 2, count - 1}) {
            const fs::path out = h.outputFolder() / src.files[i].filename();
            ASSERT_TRUE(fs::exists(out)) << out;
            shifts.push_back(testsupport::measureVolume(out).meanDb - (i % 2 ? quietIn : loudIn));
            EXPECT_NEAR(durationOf(out), durationOf(src.files[i]), 0.15) << out;
        }
        const auto [low, high] = std::minmax_element(shifts.begin(), shifts.end());
        EXPECT_LT(*high - *low, 0.5) << "files of one job moved by different amounts";
        if (std::isnan(row.shiftDb)) {
            EXPECT_GT(std::abs(shifts[0]), 1.0) << "the album was not adjusted";
        } else {
            EXPECT_NEAR(shifts[0], row.shiftDb, 0.5);
        }
    }
}

// ---------------------------------------------------------------------------------------
// A three-hour file

constexpr double kLongSeconds = 3 * 3600;

// Every value a stage dialog's bar took, in order, split into one run per showing of the
// dialog (a dialog starts again at 0).
class ProgressLog {
public:
    void watch(QProgressBar* bar, const std::string& stage)
    {
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, bar, stage](int value) {
            // The conversion's dialog shows the check of the outputs after it.
            const std::string shown = bar->window()->windowTitle() == QStringLiteral("Checking outputs") ? "check" : stage;
            if (value == 0 || runs_.empty() || runs_.back().stage != shown)
                runs_.push_back({shown, {}});
            if (value != 0)
                runs_.back().values.push_back(value);
        });
    }
    struct Run {
        std::string stage;
        std::vector<int> values;  // from the first value above 0 on
    };
    const std::vector<Run>& runs() const { return runs_; }
    void clear() { runs_.clear(); }

private:
    std::vector<Run> runs_;
};

long statusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return 0;
}

// The largest resident size any finished child (the converter, the normaliser) reached.
long childrenPeakKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

void makeTone(const fs::path& out, double seconds)
{
    // 8 kHz and a low bit rate keep three hours cheap to make and to convert.
    testsupport::makeMedia(out, "aevalsrc=0.1*sin(2*PI*440*t)|0.1*sin(2*PI*440*t):s=8000:d=" +
                                    std::to_string(seconds),
                           {}, {"-c:a", "libmp3lame", "-b:a", "16k"});
}

struct Mode {
    const char* name;
    QRadioButton* Tmain::*button;
    enum class Level { Shift, FullScale, Target, Unchanged } level;
    double shiftDb;  // for Shift
};

const Mode kModes[] = {
    {"percent 50", &Tmain::radio_changepercent, Mode::Level::Shift, 20 * std::log10(0.5)},
    {"gain +5", &Tmain::radio_changegain, Mode::Level::Shift, 5.0},
    {"peak", &Tmain::radio_peak_trackgain, Mode::Level::FullScale, 0},
    {"rms track", &Tmain::radio_singularly, Mode::Level::Target, 0},
    {"rms album", &Tmain::radio_collectively, Mode::Level::Target, 0},
    // The mean of a list of one file is that file's own level.
    {"rms weighted", &Tmain::radio_weighted, Mode::Level::Unchanged, 0},
    {"rms arithmetic", &Tmain::radio_arithmetic, Mode::Level::Unchanged, 0},
};

void chooseMode(jobtest::JobHarness& h, const Mode& mode)
{
    h.choose(h.main().*mode.button);
    h.main().spin_volumepercent->setText(QStringLiteral("50"));
    h.main().edit_volumegain->setText(QStringLiteral("5"));
}

// The converter's progress lines move the bar through a file: it never goes back, and the
// final conversion (encoding three hours takes seconds even on a fast machine) moves by a few
// percent at a time, not in one leap. The peak and normaliser bars step once per file.
void expectSmoothProgress(const ProgressLog& log)
{
    const ProgressLog::Run* last = nullptr;
    for (const ProgressLog::Run& run : log.runs()) {
        SCOPED_TRACE(run.stage);
        EXPECT_TRUE(std::is_sorted(run.values.begin(), run.values.end())) << "the bar went back";
        if (run.values.empty())
            continue;
        EXPECT_LE(run.values.back(), 100);
        if (run.stage != "conversion")
            continue;
        EXPECT_GE(run.values.back(), 95) << "the bar stopped short";
        last = &run;
    }
    ASSERT_NE(last, nullptr) << "the conversion showed no progress";
    int largest = last->values.front();
    for (std::size_t i = 1; i < last->values.size(); ++i)
        largest = std::max(largest, last->values[i] - last->values[i - 1]);
    EXPECT_LE(largest, 25) << "the bar leapt";
    EXPECT_GE(last->values.size(), 4u) << "the bar hardly moved before the end";
}

void expectLevel(const Mode& mode, const fs::path& source, const fs::path& out,
                 const QString& peakCell)
{
    // A stretch in the middle: the tone is steady, so it stands for the whole file. Coding it
    // again at 16 kbit/s costs about half a dB whatever the mode, hence the tolerance.
    const double start = kLongSeconds / 2, length = 60;
    constexpr double kTolerance = 0.7;
    switch (mode.level) {
    case Mode::Level::Shift:
        EXPECT_NEAR(volumeOf(out, start, length).meanDb,
                    volumeOf(source, start, length).meanDb + mode.shiftDb, kTolerance);
        break;
    case Mode::Level::FullScale:
        EXPECT_NEAR(volumeOf(out, start, length).meanDb,
                    volumeOf(source, start, length).meanDb + peakCell.toDouble(), kTolerance)
            << peakCell.toStdString();
        EXPECT_GT(peakCell.toDouble(), 10.0);
        break;
    case Mode::Level::Target:
        EXPECT_NEAR(loudnessOf(out, start, length), -14.0, kTolerance);
        break;
    case Mode::Level::Unchanged:
        EXPECT_NEAR(loudnessOf(out, start, length), loudnessOf(source, start, length), kTolerance);
        break;
    }
}

TEST(LoadJob, AThreeHourFileThroughEveryModeKeepsItsLengthProgressesSmoothlyInFlatMemory)
{
    jobtest::JobHarness h;
    ProgressLog log;
    log.watch(h.main().batchaudioc->progresstotal, "conversion");
    log.watch(h.main().detectpeak->progresstotal, "peak");
    log.watch(h.main().rms->progresstotal, "normaliser");

    // Every mode over a short file first: the memory it takes is the yardstick.
    const fs::path shortFile = h.dir() / "short.mp3";
    makeTone(shortFile, 2);
    h.addFiles({shortFile});
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(std::string("short, ") + mode.name);
        h.boxes().clear();
        chooseMode(h, mode);
        runBigJob(h, 120);
        ASSERT_EQ(h.finishedMessages(), 1);
    }
    const long ownShortKiB = statusKiB("VmHWM:");
    const long childShortKiB = childrenPeakKiB();

    const fs::path longFile = h.dir() / "long.mp3";
    makeTone(longFile, kLongSeconds);
    const std::uint64_t before = fingerprintOf(longFile);
    h.main().btn_clearClick();
    h.addFiles({longFile});
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(std::string("long, ") + mode.name);
        h.boxes().clear();
        log.clear();
        chooseMode(h, mode);

        runBigJob(h, 900);

        EXPECT_TRUE(h.textsWithCaption(QStringLiteral("Error!")).empty());
        ASSERT_EQ(h.finishedMessages(), 1);
        const fs::path out = h.outputFolder() / "long.mp3";
        ASSERT_TRUE(fs::exists(out));
        EXPECT_NEAR(durationOf(out), durationOf(longFile), 1.0);
        expectLevel(mode, longFile, out, h.main().rowCell(0, 3));
        expectSmoothProgress(log);
        EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
        fs::remove(out);  // three hours of output per mode add up
    }
    EXPECT_EQ(fingerprintOf(longFile), before) << "the source was modified";

    // Nothing in the program or its tools may hold the file's length in memory.
    const long ownLongKiB = statusKiB("VmHWM:");
    const long childLongKiB = childrenPeakKiB();
    std::printf("peak resident size, short file / three hours: program %ld / %ld KiB, tools %ld / %ld KiB\n",
                ownShortKiB, ownLongKiB, childShortKiB, childLongKiB);
    EXPECT_LT(ownLongKiB - ownShortKiB, 32 * 1024)
        << "own peak " << ownShortKiB << " KiB with a short file, " << ownLongKiB << " KiB with the long one";
    EXPECT_LT(childLongKiB - childShortKiB, 32 * 1024)
        << "tools' peak " << childShortKiB << " KiB with a short file, " << childLongKiB
        << " KiB with the long one";
}

}  // namespace
