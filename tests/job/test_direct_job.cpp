// Whole Percentage and Gain jobs through the window, with the real converter, and the ways a
// conversion can fail.
#include "JobHarness.h"

#include "app/stages/Tbatchaudioc.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

const char* const kTitle = "Auralon test tone";

std::string titleOf(const fs::path& file)
{
    std::string title = testsupport::ffprobeValue(file, "format_tags=title");
    if (title.empty())  // Ogg keeps its comments on the stream
        title = testsupport::ffprobeValue(file, "stream_tags=title", "a:0");
    return title;
}

std::multiset<std::string> streamKinds(const fs::path& file)
{
    std::multiset<std::string> kinds;
    std::istringstream lines(testsupport::ffprobeValue(file, "stream=codec_type"));
    for (std::string line; std::getline(lines, line);)
        kinds.insert(line);
    return kinds;
}

std::string tone(double peakDb)
{
    return "aevalsrc=" + std::to_string(std::pow(10.0, peakDb / 20.0)) +
           "*sin(2*PI*440*t):s=44100:d=2";
}

std::vector<fs::path> sourcesOfEveryKind(const fs::path& dir, double peakDb)
{
    const std::vector<std::string> tag{"-metadata", std::string("title=") + kTitle};
    std::vector<fs::path> files;
    for (const char* name : {"a.mp3", "b.flac", "c.wav", "d.ogg"}) {
        files.push_back(dir / name);
        testsupport::makeSine(files.back(), peakDb, 2, 2, tag);
    }
    files.push_back(dir / "e.mp4");
    testsupport::makeMedia(files.back(), tone(peakDb), "testsrc=size=160x120:rate=10:duration=2",
                           {"-metadata", std::string("title=") + kTitle, "-shortest"});
    testsupport::writeFile(dir / "subs.srt", "1\n00:00:00,000 --> 00:00:01,500\nHello\n\n");
    files.push_back(dir / "f.mkv");
    testsupport::ffmpeg({"-f", "lavfi", "-i", tone(peakDb), "-f", "lavfi", "-i",
                         "testsrc=size=160x120:rate=10:duration=2", "-i", (dir / "subs.srt").string(),
                         "-map", "0", "-map", "1", "-map", "2", "-c:s", "srt", "-shortest",
                         "-metadata", std::string("title=") + kTitle, files.back().string()});
    return files;
}

TEST(DirectJob, GainChangesEveryKindOfSourceAndKeepsItsStreamsAndTags)
{
    jobtest::JobHarness h;
    const std::vector<fs::path> sources = sourcesOfEveryKind(h.dir().path(), -12.0);
    h.addFiles(sources);
    h.choose(h.main().radio_changegain);
    h.main().edit_volumegain->setText(QStringLiteral("6"));

    h.runJob();

    EXPECT_TRUE(h.textsWithCaption(QStringLiteral("Error!")).empty());
    EXPECT_EQ(h.finishedMessages(), 1);
    for (const fs::path& source : sources) {
        SCOPED_TRACE(source.filename().string());
        const fs::path out = h.outputFolder() / source.filename();
        ASSERT_TRUE(fs::exists(out));
        const bool lossless = source.extension() == ".wav" || source.extension() == ".flac";
        // Lossy coding moves a sine's peaks by a dB or two; its mean level stays put.
        EXPECT_NEAR(testsupport::measureVolume(out).meanDb,
                    testsupport::measureVolume(source).meanDb + 6.0, lossless ? 0.1 : 0.5);
        EXPECT_EQ(titleOf(out), kTitle);
        EXPECT_EQ(streamKinds(out), streamKinds(source));
        if (source.extension() == ".mp4" || source.extension() == ".mkv") {
            EXPECT_EQ(testsupport::ffprobeValue(out, "stream=codec_name", "v:0"),
                      testsupport::ffprobeValue(source, "stream=codec_name", "v:0"));
        }
    }
    EXPECT_EQ(h.filesIn(h.outputFolder()).size(), sources.size()) << "a temporary file was left";
    EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
}

TEST(DirectJob, PercentageAndNegativeGainSetTheLevelAndZeroPercentSilences)
{
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
        const char* value;
        double expectedMaxDb;  // the source peaks at -3 dBFS
    };
    const Row rows[] = {
        {"half.wav", &Tmain::radio_changepercent, "50", -3.0 - 6.02},
        {"minus20.flac", &Tmain::radio_changegain, "-20", -23.0},
        {"zero.mp3", &Tmain::radio_changepercent, "0", -INFINITY},
    };
    jobtest::JobHarness h;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        h.boxes().clear();
        h.main().btn_clearClick();
        const fs::path source = h.dir() / row.name;
        testsupport::makeSine(source, -3.0, 1);
        h.addFiles({source});
        h.choose(h.main().*row.mode);
        QLineEdit* field = row.mode == &Tmain::radio_changegain ? h.main().edit_volumegain
                                                               : h.main().spin_volumepercent;
        field->setText(QString::fromLatin1(row.value));

        h.runJob();

        EXPECT_EQ(h.finishedMessages(), 1);
        const double measured = testsupport::measureVolume(h.outputFolder() / row.name).maxDb;
        if (std::isinf(row.expectedMaxDb))
            EXPECT_TRUE(std::isinf(measured) || measured < -90) << measured;
        else
            EXPECT_NEAR(measured, row.expectedMaxDb, 0.2);
    }
}

TEST(DirectJob, EmptyListAndCancelledFolderChooserStartNothing)
{
    jobtest::JobHarness h;
    h.main().BitBtn1->click();
    ASSERT_EQ(h.boxes().boxes().size(), 1u);
    EXPECT_EQ(h.boxes().boxes()[0].text, QStringLiteral("Please add files!"));
    EXPECT_EQ(h.boxes().boxes()[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(h.boxes().boxes()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(h.dialogs().folderCalls.empty());

    const fs::path source = h.dir() / "a.wav";
    testsupport::makeSine(source, -6, 1);
    h.addFiles({source});
    h.boxes().clear();
    h.dialogs().cancelFolder();
    h.main().BitBtn1->click();
    ASSERT_EQ(h.dialogs().folderCalls.size(), 1u);
    EXPECT_EQ(h.dialogs().folderCalls[0].title, QStringLiteral("Select an output folder for output files"));
    EXPECT_FALSE(h.main().jobActive());
    EXPECT_TRUE(h.boxes().boxes().empty());
    EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
}

TEST(DirectJob, CancelEndsTheConvertersAndTheirChildrenAndLeavesNoPartialFile)
{
    jobtest::JobHarness h;
    std::vector<fs::path> sources;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        sources.push_back(h.dir() / name);
        testsupport::makeSine(sources.back(), -6, 1);
    }
    h.addFiles(sources);
    h.choose(h.main().radio_changegain);
    h.tools().setFake(FakeToolFolder::Tool::Converter, FakeToolBehaviour::hanging());

    // Every run the job keeps going at once is under way, each with its child, when Cancel comes.
    const std::size_t atOnce = static_cast<std::size_t>(h.main().filesAtOnce());
    std::vector<long> children;
    std::vector<std::string> writePaths;
    h.runJob([&] {
        const auto runs = h.tools().recordedRuns(FakeToolFolder::Tool::Converter);
        children = jobtest::descendantsOf(::getpid());
        if (runs.size() < atOnce || children.size() < 2 * atOnce)
            return false;
        for (const auto& run : runs) {
            writePaths.push_back(run.back());
            testsupport::writeFile(writePaths.back(), "half an output");  // as if begun
        }
        h.main().batchaudioc->Button1->click();
        return true;
    });

    ASSERT_EQ(writePaths.size(), atOnce);
    for (const std::string& path : writePaths)
        EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
    EXPECT_EQ(h.finishedMessages(), 0);
    EXPECT_TRUE(h.boxes().boxes().empty());
    for (long pid : children)
        EXPECT_FALSE(jobtest::processAlive(pid)) << pid;
}

TEST(DirectJob, ConverterThatCannotStartOrFailsSilentlyIsReportedAndWritesNothing)
{
    struct Row {
        const char* name;
        std::function<void(FakeToolFolder&)> arrange;
        std::string expected;  // a piece of the message
    };
    const Row rows[] = {
        {"missing", [](FakeToolFolder& t) { t.remove(FakeToolFolder::Tool::Converter); },
         "No such file or directory"},
        {"exit 1 without Error",
         [](FakeToolFolder& t) { t.setFake(FakeToolFolder::Tool::Converter, FakeToolBehaviour::silentFailure()); },
         "ended with exit status 1."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const fs::path source = h.dir() / "a.wav";
        testsupport::makeSine(source, -6, 1);
        h.addFiles({source});
        row.arrange(h.tools());

        h.runJob();

        const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].contains(QString::fromStdString(h.tools().toolPath(FakeToolFolder::Tool::Converter))));
        EXPECT_TRUE(errors[0].contains(QString::fromStdString(row.expected))) << errors[0].toStdString();
        EXPECT_EQ(h.finishedMessages(), 0);
        EXPECT_FALSE(h.main().batchaudioc->isVisible());
        EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
    }
}

TEST(DirectJob, TheSameOutputTwiceInOneJobGetsAFreeNameInRowOrder)
{
    // The first row is far longer, so with two at once the second ends first; names still
    // follow the list.
    jobtest::JobHarness h;
    const fs::path longer = h.dir() / "x" / "a.flac";
    const fs::path shorter = h.dir() / "y" / "a.flac";
    fs::create_directories(longer.parent_path());
    fs::create_directories(shorter.parent_path());
    testsupport::makeSine(longer, -6, 40);
    testsupport::makeSine(shorter, -6, 1);
    h.addFiles({longer, shorter});
    h.choose(h.main().radio_changegain);
    h.main().edit_volumegain->setText(QStringLiteral("1"));
    h.main().cbk_audioformatconverting->setChecked(true);
    h.main().cb_audioformat->setCurrentText(QStringLiteral("*.AC3"));

    h.runJob();

    EXPECT_EQ(h.finishedMessages(), 1);
    EXPECT_EQ(h.filesIn(h.outputFolder()).size(), 2u) << "a temporary file was left";
    EXPECT_NEAR(std::stod(testsupport::ffprobeValue(h.outputFolder() / "a.ac3", "format=duration")), 40, 0.5);
    EXPECT_NEAR(std::stod(testsupport::ffprobeValue(h.outputFolder() / "a (2).ac3", "format=duration")), 1, 0.5);
}

}  // namespace
