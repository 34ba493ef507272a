// "File i of N" in the stage dialogs: the text itself, and what each stage shows while its
// tool works on a file.
#include "JobHarness.h"

#include "analysis/ProgressMath.h"
#include "app/stages/Tdetectpeak.h"
#include "app/stages/Trms.h"
#include "app/stages/Tbatchaudioc.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <map>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

TEST(FileOfCount, TextKeepsTheIndexWithinTheList)
{
    struct Row {
        int index;
        int count;
        const char* expected;
    };
    const Row rows[] = {
        {0, 1, "File 1 of 1"},
        {2, 12, "File 3 of 12"},
        {11, 12, "File 12 of 12"},
        {12, 12, "File 12 of 12"},  // the normaliser's count after its last file
        {-1, 3, "File 1 of 3"},
        {0, 0, ""},
        {5, -2, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(progress_math::fileOfCountText(row.index, row.count), row.expected)
            << row.index << " of " << row.count;
}

std::vector<fs::path> threeFiles(const jobtest::JobHarness& h)
{
    std::vector<fs::path> files;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        files.push_back(h.dir() / name);
        testsupport::makeSine(files.back(), -6, 1);
    }
    return files;
}

// Runs `program` after a pause, so that every file's run is seen at work.
FakeToolBehaviour slowThenRunning(const std::string& program)
{
    FakeToolBehaviour b;
    b.text = "starting\n";
    b.splits = {4};
    b.pauseMs = 60;
    b.execProgram = program;
    return b;
}

TEST(JobProgress, PeakAndConversionStagesShowTheFilesAtWorkAndABarThatNeverMovesBack)
{
    jobtest::JobHarness h;
    h.addFiles(threeFiles(h));
    h.choose(h.main().radio_peak_trackgain);
    h.tools().setFake(FakeToolFolder::Tool::Converter, slowThenRunning(FFMPEG_EXECUTABLE));

    // Each change of what a dialog showed while its tools worked.
    std::map<std::string, std::vector<QString>> labels;
    std::map<std::string, std::vector<int>> bars;
    h.runJob([&] {
        for (StageDialog* stage : {static_cast<StageDialog*>(h.main().detectpeak),
                                   static_cast<StageDialog*>(h.main().batchaudioc)}) {
            if (!stage->toolRunning())
                continue;
            const std::string name = stage->objectName().toStdString();
            const QString label = stage->label_fileofcount->text();
            if (labels[name].empty() || labels[name].back() != label)
                labels[name].push_back(label);
            bars[name].push_back(stage->progresstotal->value());
        }
        return false;
    });

    EXPECT_EQ(h.finishedMessages(), 1);
    for (const char* stage : {"Tdetectpeak", "Tbatchaudioc"}) {
        SCOPED_TRACE(stage);
        const std::vector<QString>& shown = labels[stage];
        ASSERT_FALSE(shown.empty()) << "no run was seen";
        if (h.main().filesAtOnce() == 1) {
            EXPECT_EQ(shown, (std::vector<QString>{QStringLiteral("File 1 of 3"), QStringLiteral("File 2 of 3"),
                                                   QStringLiteral("File 3 of 3")}));
        } else {
            EXPECT_EQ(shown.front(), QStringLiteral("Files 1\u20132 of 3"));
            EXPECT_EQ(shown.back(), QStringLiteral("File 3 of 3"));
        }
        EXPECT_TRUE(std::is_sorted(bars[stage].begin(), bars[stage].end())) << "the bar moved back";
    }
}

TEST(JobProgress, RmsStageCountsTheFilesTheNormaliserHasDone)
{
    jobtest::JobHarness h;
    h.addFiles(threeFiles(h));
    h.choose(h.main().radio_collectively);
    const std::string markers = "Applying adjustment of -1.00dB to 0.wav...\n"
                                "Applying adjustment of -2.00dB to 1.wav...\n"
                                "Applying adjustment of -3.00dB to 2.wav...\n";
    FakeToolBehaviour normaliser = FakeToolBehaviour::printing(markers);
    normaliser.splits = {0, markers.find("Applying", 1), markers.rfind("Applying"), markers.size()};
    normaliser.pauseMs = 60;
    h.tools().setFake(FakeToolFolder::Tool::Normalizer, normaliser);

    std::vector<QString> shown;  // each change while the normaliser ran
    h.runJob([&] {
        if (h.main().rms->toolRunning()) {
            const QString text = h.main().rms->label_fileofcount->text();
            if (shown.empty() || shown.back() != text)
                shown.push_back(text);
        }
        return false;
    });

    EXPECT_EQ(h.finishedMessages(), 1);
    EXPECT_EQ(shown, (std::vector<QString>{QStringLiteral("File 1 of 3"), QStringLiteral("File 2 of 3"),
                                           QStringLiteral("File 3 of 3")}));
}

// What the window shows at the end of a job, in order: rows, the check's stage, its end, the end
// message (the scratch folder's copies still there), then the copies gone.
class EndWatcher : public QObject {
public:
    EndWatcher(jobtest::JobHarness& h) : h_(h)
    {
        qApp->installEventFilter(this);
        QObject::connect(&h.main(), &Tmain::jobStarted, this, [this](Job* job) {
            this->job = job;
            QObject::connect(job, &Job::rowEnded, this, [this](int row) { note("row " + std::to_string(row)); });
            QObject::connect(job, &Job::stageStarted, this, [this](Job::Stage stage) {
                if (stage == Job::Stage::Check)
                    note("check");
            });
            QObject::connect(job, &Job::rowProgress, this, [this, job](int, int percent) {
                if (job->stage() == Job::Stage::Check && h_.main().batchaudioc->isVisible())
                    note("check " + std::to_string(percent) + " %");
            });
        });
    }
    ~EndWatcher() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (auto* box = qobject_cast<QMessageBox*>(watched); box && event->type() == QEvent::Show)
            note(box->text().toStdString() + (h_.main().batchaudioc->isVisible() ? " over the stage" : "")
                 + (h_.filesIn(h_.scratchFolder()).empty() ? "" : " copies kept"));
        return false;
    }

    std::vector<std::string> events;
    Job* job = nullptr;

private:
    void note(const std::string& what)
    {
        if (events.empty() || events.back() != what)
            events.push_back(what);
    }
    jobtest::JobHarness& h_;
};

// The check of the outputs is the job's last stage, in the stage dialog with its progress; the
// end message follows it, then the scratch folder is cleared. Cancel there ends the job: the
// outputs stay, marked as not checked.
TEST(JobProgress, TheCheckIsTheLastStageAndTheEndMessageFollowsIt)
{
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "to the end");
        jobtest::JobHarness h;
        h.addFiles(threeFiles(h));
        // The end: an RMS job, to see its copies cleared after the message. Cancel: a worker that
        // never answers keeps the check going (the direct mode leaves no copies behind).
        h.choose(cancel ? h.main().radio_changegain : h.main().radio_singularly);
        if (cancel)
            h.tools().setFake(FakeToolFolder::Tool::Meter, FakeToolBehaviour::hanging());
        EndWatcher watcher(h);
        h.runJob([&] {
            if (!cancel || !h.main().batchaudioc->isVisible() || !watcher.job || watcher.job->stage() != Job::Stage::Check)
                return false;
            h.main().batchaudioc->Button1->click();
            return true;
        });

        const std::vector<std::string>& e = watcher.events;
        const auto at = [&](const std::string& what) { return std::find(e.begin(), e.end(), what) - e.begin(); };
        ASSERT_LT(at("check"), static_cast<long>(e.size())) << testing::PrintToString(e);
        EXPECT_GT(at("check"), at("row 2"));
        if (cancel) {
            EXPECT_EQ(h.finishedMessages(), 0);
            EXPECT_TRUE(h.main().rowNote(2).contains(QStringLiteral("Not checked")));
            EXPECT_EQ(h.filesIn(h.outputFolder()).size(), 3u);
            continue;
        }
        EXPECT_EQ(e.back(), "Process is finished! copies kept") << testing::PrintToString(e);
        EXPECT_EQ(e[e.size() - 2], "check 100 %") << testing::PrintToString(e);
        EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
    }
}

}  // namespace
