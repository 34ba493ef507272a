// Whole RMS jobs: WAV copies, the real normaliser, outputs built from the adjusted copies;
// and the ways the RMS stage can go wrong.
#include "JobHarness.h"

#include "analysis/ScratchLock.h"
#include "app/stages/Trms.h"
#include "app/ReportChart.h"
#include "app/ReportTableModel.h"
#include "app/ReportWindow.h"
#include "app/Toptions.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <cmath>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

const char* const kTitle = "Auralon rms tone";

std::string tone(double peakDb)
{
    return "aevalsrc=" + std::to_string(std::pow(10.0, peakDb / 20.0)) +
           "*sin(2*PI*440*t):s=44100:d=2";
}

struct Sources {
    fs::path audio;  // FLAC: lossless, so its loudness can be checked tightly
    fs::path video;
};

Sources makeSources(const fs::path& dir)
{
    Sources s{dir / "a.flac", dir / "b.mp4"};
    testsupport::makeSine(s.audio, -24, 2, 2, {"-metadata", std::string("title=") + kTitle});
    testsupport::makeMedia(s.video, tone(-12), "testsrc=size=160x120:rate=10:duration=2",
                           {"-metadata", std::string("title=") + kTitle, "-shortest"});
    return s;
}

double loudness(const fs::path& file)
{
    return testsupport::measureLoudness(file).integratedLufs;
}

// The report window shows the engine's records: the analysis (rows, the set's row, the chart's
// bars and marks), then the judged outputs of the job.
void expectReportFollows(Tmain& main, bool judged)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return !main.measuring(); }, 120000));
    const LoudnessReport& report = main.lastCheck()->report();
    const ReportTableModel& model = *main.reportWindow->model;
    EXPECT_EQ(model.rowCount(), int(report.rows.size() + report.sets.size()));
    const ReportChart::Items items = ReportChart::itemsOf(report);
    ASSERT_EQ(items.bars.size(), report.rows.size());
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const LoudnessReport::Row& row = report.rows[i];
        ASSERT_TRUE(row.before) << row.error;
        auto cell = [&](int column) { return model.index(int(i), column).data().toString(); };
        EXPECT_EQ(cell(ReportTableModel::Loudness), QString::number(row.before->integratedLufs, 'f', 2));
        EXPECT_EQ(items.bars[i].before, row.before->integratedLufs);
        EXPECT_EQ(items.bars[i].heldBack, row.plan.limited || row.plan.peakLimited);
        EXPECT_EQ(items.bars[i].after.has_value(), judged);
        EXPECT_EQ(cell(ReportTableModel::Verdict).isEmpty(), !judged);
        if (judged && i == 0) {  // lossless
            EXPECT_EQ(cell(ReportTableModel::Verdict), QStringLiteral("\u2714 pass")) << row.verdict->reason;
        }
    }
}

TEST(RmsJob, EveryModeGivesTheLevelsItPromisesAndKeepsVideoAndTags)
{
    enum class Promise { Target, DifferenceKept, Mean };
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
        Promise promise;
        int target;  // the item chosen in Options
        bool checked = true;  // Options' "Check every output after writing"
    };
    const Row rows[] = {
        {"track", &Tmain::radio_singularly, Promise::Target, 3},
        {"album", &Tmain::radio_collectively, Promise::DifferenceKept, 0},
        {"weighted", &Tmain::radio_weighted, Promise::Mean, 0, false},
        {"arithmetic", &Tmain::radio_arithmetic, Promise::Mean, 4},
    };
    jobtest::JobHarness h;
    const Sources src = makeSources(h.dir().path());
    const double audioIn = loudness(src.audio);
    const double videoIn = loudness(src.video);
    h.addFiles({src.audio, src.video});
    h.main().LoudnessReport1Click();

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        h.boxes().clear();
        // A loud copy left by an earlier job that did not finish: it must not take part.
        testsupport::makeSine(h.scratchFolder() / "7.wav", -1, 2);
        h.choose(h.main().*row.mode);
        h.main().options->cb_loudnesstarget->setCurrentIndex(row.target);
        h.main().options->cbk_checkoutputs->setChecked(row.checked);
        const double target = tool_contracts::kLoudnessTargets[std::size_t(row.target)].lufs;
        const double ceiling = tool_contracts::kLoudnessTargets[std::size_t(row.target)].ceilingDbtp;
        QTest::mouseClick(h.main().reportWindow->btn_analyze, Qt::LeftButton);
        expectReportFollows(h.main(), false);

        h.runJob();
        expectReportFollows(h.main(), row.checked);
        if (row.promise == Promise::DifferenceKept) {
            const fs::path shot = fs::current_path() / "report-window.png";
            h.main().reportWindow->grab().save(QString::fromStdString(shot.string()));
            std::printf("The report window: %s\n", shot.c_str());
        }

        EXPECT_TRUE(h.textsWithCaption(QStringLiteral("Error!")).empty());
        ASSERT_EQ(h.finishedMessages(), 1);
        const fs::path audioOut = h.outputFolder() / "a.flac";
        const fs::path videoOut = h.outputFolder() / "b.mp4";
        const double audioLevel = loudness(audioOut);
        const double videoLevel = loudness(videoOut);
        switch (row.promise) {
        case Promise::Target:
            EXPECT_NEAR(audioLevel, target, 0.3);
            EXPECT_NEAR(videoLevel, target, 0.5);
            break;
        case Promise::DifferenceKept:
            EXPECT_GT(std::abs(audioLevel - audioIn), 1.0) << "the album was not adjusted";
            EXPECT_NEAR(videoLevel - audioLevel, videoIn - audioIn, 0.5);
            break;
        case Promise::Mean:
            EXPECT_NEAR(audioLevel, (audioIn + videoIn) / 2, 0.5);
            EXPECT_NEAR(videoLevel, (audioIn + videoIn) / 2, 0.5);
            break;
        }
        EXPECT_LE(testsupport::measureLoudness(audioOut).truePeakDb, ceiling);  // lossless
        EXPECT_LE(testsupport::measureLoudness(videoOut).truePeakDb, ceiling + 0.5);  // lossy
        EXPECT_EQ(testsupport::ffprobeValue(videoOut, "stream=codec_name", "v:0"),
                  testsupport::ffprobeValue(src.video, "stream=codec_name", "v:0"));
        EXPECT_EQ(testsupport::ffprobeValue(audioOut, "format_tags=title"), kTitle);
        EXPECT_EQ(testsupport::ffprobeValue(videoOut, "format_tags=title"), kTitle);
        EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
    }
}

TEST(RmsJob, TheNormaliserGetsTheModeAndTheScratchPatternWithItsLettersKept)
{
    jobtest::JobHarness h;
    // This executable's folder has capitals, and so has the scratch folder inside it.
    const std::string scratch = h.scratchFolder().string();
    ASSERT_NE(scratch.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << scratch;
    const Sources src = makeSources(h.dir().path());
    h.addFiles({src.audio, src.video});  // the video's output is lossy: the ceiling gets a margin
    h.choose(h.main().radio_weighted);
    h.main().options->cb_loudnesstarget->setCurrentIndex(3);
    h.main().options->cbk_limitpeaks->setChecked(false);
    h.tools().setFake(FakeToolFolder::Tool::Normalizer, FakeToolBehaviour::exitWith(0));
    // The fake leaves the levels as they are: checked, both rows would be normalised again.
    h.main().options->cbk_checkoutputs->setChecked(false);

    h.runJob();

    auto runs = h.tools().recordedRuns(FakeToolFolder::Tool::Normalizer);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"--levels", "-bv", "--target=-23", "--ceiling=-2", "--limiter=off",
                                                 scratch + "*.wav"}));
}

TEST(RmsJob, AFailingOrCancelledNormaliserWritesNoOutputs)
{
    struct Row {
        const char* name;
        FakeToolBehaviour normaliser;
        bool cancel;
    };
    FakeToolBehaviour failing = FakeToolBehaviour::printing(
        "Cannot rewrite /x/0.wav: No space left on device\n", std::string::npos, 1);
    const Row rows[] = {
        {"exit 1", failing, false},
        {"cancel", FakeToolBehaviour::hanging(), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const Sources src = makeSources(h.dir().path());
        h.addFiles({src.audio, src.video});
        h.choose(h.main().radio_collectively);
        h.tools().setFake(FakeToolFolder::Tool::Normalizer, row.normaliser);

        std::vector<long> children;
        std::function<bool()> cancel = [&] {
            if (!h.main().rms->isVisible())
                return false;
            children = jobtest::descendantsOf(::getpid());
            if (children.size() < 2)
                return false;
            h.main().rms->Button1->click();
            return true;
        };
        h.runJob(row.cancel ? cancel : std::function<bool()>());

        EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
        EXPECT_EQ(h.finishedMessages(), 0);
        const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
        if (row.cancel) {
            EXPECT_TRUE(h.boxes().boxes().empty());
            ASSERT_GE(children.size(), 2u);
            for (long pid : children)
                EXPECT_FALSE(jobtest::processAlive(pid)) << pid;
        } else {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_TRUE(errors[0].contains(QStringLiteral("No space left on device")));
            EXPECT_TRUE(errors[0].contains(QStringLiteral("exit status 1")));
        }
    }
}

TEST(RmsJob, AScratchFolderInUseByAnotherInstanceIsRefusedAndKept)
{
    jobtest::JobHarness h;
    const Sources src = makeSources(h.dir().path());
    h.addFiles({src.audio});
    const fs::path theirs = h.scratchFolder() / "0.wav";
    testsupport::makeSine(theirs, -6, 1);
    ScratchLock otherInstance;
    ASSERT_TRUE(otherInstance.acquire(h.scratchFolder().string()));

    h.choose(h.main().radio_singularly);
    h.runJob();
    const auto refusals = h.textsWithCaption(QStringLiteral("Error"));
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_TRUE(refusals[0].contains(QStringLiteral("in use"))) << refusals[0].toStdString();
    EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());

    // A direct job finishes, but leaves the other instance's copies alone.
    h.boxes().clear();
    h.choose(h.main().radio_changepercent);
    h.runJob();
    EXPECT_EQ(h.finishedMessages(), 1);
    EXPECT_TRUE(fs::exists(theirs));

    otherInstance.release();
    h.boxes().clear();
    h.choose(h.main().radio_singularly);
    h.runJob();
    EXPECT_EQ(h.finishedMessages(), 1);
    EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
}

}  // namespace
