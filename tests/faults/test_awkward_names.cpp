// File names with every awkward character a Linux name may hold, through every kind of job:
// each reaches the tools as one whole absolute argument, the outputs keep the names, nothing
// in a name is ever run, and a name too long for its output is refused by name.
#include "FaultChecks.h"
#include "JobHarness.h"

#include "app/Toptions.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QLineEdit>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

const std::string kLongName = std::string(251, 'x') + ".wav";  // 255 bytes, the most a name holds

std::vector<std::string> awkwardNames()
{
    return {"it's.wav",         "say \"hi\".wav",     "$(touch PWNED).wav", "`touch PWNED`.wav",
            "new\nline.wav",    "-leading.wav",       "-y.wav",             " spaced  out .wav",
            "back\\slash;&|>.wav", "*glob?[a].wav",   "ünï cødé ✓.wav",     kLongName};
}

// Every tool run so far, as the tools received their arguments.
std::vector<std::vector<std::string>> toolRuns(jobtest::JobHarness& h)
{
    auto runs = h.tools().recordedRuns(FakeToolFolder::Tool::Converter);
    for (auto& run : h.tools().recordedRuns(FakeToolFolder::Tool::Normalizer))
        runs.push_back(run);
    return runs;
}

bool anyNamed(const fs::path& folder, const std::string& name)
{
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() == name)
            return true;
    return false;
}

TEST(AwkwardNames, EveryKindOfJobKeepsTheNamesAndPassesThemWhole)
{
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
    };
    const Row rows[] = {
        {"percentage", &Tmain::radio_changepercent},
        {"peak", &Tmain::radio_peak_trackgain},
        {"rms", &Tmain::radio_singularly},
    };
    jobtest::JobHarness h;
    // The real tools behind recorders of their arguments.
    h.tools().setFake(FakeToolFolder::Tool::Converter,
                      FakeToolBehaviour::printingThenRunning({}, FFMPEG_EXECUTABLE));
    h.tools().setFake(FakeToolFolder::Tool::Normalizer,
                      FakeToolBehaviour::printingThenRunning({}, AURALON_TEST_BIN_DIR "/qvx/client"));
    const fs::path in = h.dir() / "in";
    fs::create_directories(in);
    std::vector<fs::path> sources;
    for (const std::string& name : awkwardNames()) {
        sources.push_back(in / name);
        testsupport::makeSine(sources.back(), -12, 1);
    }
    const auto before = faulttest::contentsOf(in);
    h.addFiles(sources);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        h.boxes().clear();
        fs::remove_all(h.outputFolder());
        fs::create_directories(h.outputFolder());
        h.choose(h.main().*row.mode);

        h.runJob();

        ASSERT_EQ(h.finishedMessages(), 1);
        EXPECT_EQ(h.boxes().boxes().size(), 1u) << h.boxes().boxes().front().text.toStdString();
        EXPECT_EQ(h.filesIn(h.outputFolder()).size(), sources.size());
        for (const std::string& name : awkwardNames()) {
            const fs::path out = h.outputFolder() / name;
            ASSERT_TRUE(fs::exists(out)) << name;
            EXPECT_NEAR(std::stod(testsupport::ffprobeValue(out, "format=duration")), 1.0, 0.05) << name;
        }
    }

    for (const auto& run : toolRuns(h))
        for (const std::string& arg : run)
            if (arg.find("leading") != std::string::npos || arg.find(".wav") != std::string::npos) {
                EXPECT_EQ(arg.front(), '/') << "an argument that may be read as an option: " << arg;
            }
    EXPECT_FALSE(anyNamed(h.dir().path(), "PWNED"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "PWNED"));
    EXPECT_FALSE(anyNamed(h.tools().windowsDirectory(), "PWNED"));
    EXPECT_EQ(faulttest::contentsOf(in), before);
}

TEST(AwkwardNames, AnOutputNameBeyondTheLimitIsRefusedByNameAndTheOthersAreWritten)
{
    // A refused last row ends the job as a failed last file does: without "finished".
    for (const bool refusedLast : {false, true}) {
        SCOPED_TRACE(refusedLast ? "refused last" : "refused first");
        jobtest::JobHarness h;
        const fs::path in = h.dir() / "in";
        fs::create_directories(in);
        const fs::path longSource = in / kLongName;
        const fs::path shortSource = in / "short.wav";
        testsupport::makeSine(longSource, -12, 1);
        testsupport::makeSine(shortSource, -12, 1);
        if (refusedLast)
            h.addFiles({shortSource, longSource});
        else
            h.addFiles({longSource, shortSource});
        h.choose(h.main().radio_changegain);
        h.main().edit_volumegain->setText(QStringLiteral("-3"));
        h.main().options->ed_prefix->setText(QStringLiteral("vol_"));

        h.runJob();

        EXPECT_EQ(h.finishedMessages(), refusedLast ? 0 : 1);
        const auto refusals = h.textsWithCaption(QStringLiteral("Error"));
        ASSERT_EQ(refusals.size(), 1u);
        EXPECT_TRUE(refusals[0].contains(QString::fromStdString(longSource.string())));
        EXPECT_TRUE(refusals[0].contains(QStringLiteral("too long"))) << refusals[0].toStdString();
        EXPECT_EQ(faulttest::strayEntries(h.outputFolder()), "vol_short.wav ");
    }
}

TEST(AwkwardNames, ANameThatIsNotUtf8IsRefusedWhenAddedFromAFolder)
{
    jobtest::JobHarness h;
    const fs::path in = h.dir() / "in";
    fs::create_directories(in);
    testsupport::makeSine(in / "good.wav", -12, 1);
    // Copied by the file system: a path through Qt text would lose the bytes.
    fs::copy_file(in / "good.wav", in / "bad\xff\xfe.wav");
    h.dialogs().answerFolder(QString::fromStdString(in.string()));

    h.main().btn_openfolderClick();

    ASSERT_EQ(h.main().rowCount(), 1);
    EXPECT_EQ(h.main().rowPath(0), (in / "good.wav").string());
    ASSERT_EQ(h.boxes().boxes().size(), 1u);
    EXPECT_TRUE(h.boxes().boxes()[0].text.startsWith(QStringLiteral("File load error: ")));
}

}  // namespace
