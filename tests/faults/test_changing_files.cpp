// Files and folders that change under a job: a source deleted or replaced after it was added,
// the output folder deleted while the job runs, an output folder that is a file or lies in the
// scratch folder.
#include "FaultChecks.h"
#include "JobHarness.h"

#include "app/stages/Tbatchaudioc.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Two short sources in a folder of their own, a.wav and b.wav.
fs::path twoSources(jobtest::JobHarness& h)
{
    const fs::path in = h.dir() / "in";
    fs::create_directories(in);
    testsupport::makeSine(in / "a.wav", -20, 2);
    testsupport::makeSine(in / "b.wav", -20, 2);
    return in;
}

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

bool anyContains(const std::vector<QString>& texts, const std::string& part)
{
    for (const QString& text : texts)
        if (text.toStdString().find(part) != std::string::npos)
            return true;
    return false;
}

std::string allTexts(jobtest::JobHarness& h)
{
    std::string all;
    for (const auto& box : h.boxes().boxes())
        all += "[" + box.caption.toStdString() + "] " + box.text.toStdString() + "\n";
    return all;
}

TEST(ChangingFiles, ASourceGoneOrReplacedIsReportedByNameAndHarmsNothingElse)
{
    enum class Change { Deleted, Text, Folder, Fifo };
    struct Row {
        const char* name;
        Change change;
        QRadioButton* Tmain::*mode;
        bool othersDone;  // the other row is still converted
    };
    const Row rows[] = {
        {"deleted, gain", Change::Deleted, &Tmain::radio_changegain, false},
        {"deleted, peak", Change::Deleted, &Tmain::radio_peak_trackgain, true},
        {"deleted, rms", Change::Deleted, &Tmain::radio_singularly, false},
        {"text, gain", Change::Text, &Tmain::radio_changegain, false},
        {"folder, rms", Change::Folder, &Tmain::radio_collectively, false},
        {"fifo, gain", Change::Fifo, &Tmain::radio_changegain, false},
        {"fifo, rms", Change::Fifo, &Tmain::radio_arithmetic, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const fs::path in = twoSources(h);
        h.addFiles({in / "a.wav", in / "b.wav"});
        fs::remove(in / "a.wav");
        switch (row.change) {
        case Change::Deleted:
            break;
        case Change::Text:
            testsupport::writeFile(in / "a.wav", "not a sound\n");
            break;
        case Change::Folder:
            fs::create_directory(in / "a.wav");
            break;
        case Change::Fifo:
            ASSERT_EQ(::mkfifo((in / "a.wav").c_str(), 0600), 0);
            break;
        }
        const auto before = faulttest::contentsOf(in);
        h.choose(h.main().*row.mode);
        h.main().edit_volumegain->setText(QStringLiteral("3"));

        h.runJob();

        std::vector<QString> texts;
        for (const auto& box : h.boxes().boxes())
            texts.push_back(box.text);
        EXPECT_TRUE(anyContains(texts, (in / "a.wav").string())) << allTexts(h);
        EXPECT_FALSE(fs::exists(h.outputFolder() / "a.wav"));
        EXPECT_EQ(fs::exists(h.outputFolder() / "b.wav"), row.othersDone) << allTexts(h);
        EXPECT_EQ(h.finishedMessages(), row.othersDone ? 1 : 0);
        EXPECT_EQ(faulttest::contentsOf(in), before);
        EXPECT_EQ(faulttest::strayEntries(h.outputFolder()),
                  row.othersDone ? "b.wav " : "") << "a partial output";
    }
}

TEST(ChangingFiles, AnOutputFolderDeletedDuringTheJobStopsItWithItsName)
{
    jobtest::JobHarness h;
    const fs::path in = h.dir() / "in";
    fs::create_directories(in);
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        testsupport::makeSine(in / name, -20, 2);
    const auto before = faulttest::contentsOf(in);
    h.addFiles({in / "a.wav", in / "b.wav", in / "c.wav"});
    h.choose(h.main().radio_changepercent);

    int rowsStarted = 0;
    QObject::connect(&h.main(), &Tmain::jobStarted, [&](Job* job) {
        QObject::connect(job, &Job::rowStarted, [&](int row) { rowsStarted = std::max(rowsStarted, row + 1); });
    });
    h.runJob([&] {
        if (rowsStarted < 2)
            return false;
        fs::remove_all(h.outputFolder());
        return true;
    });

    EXPECT_EQ(h.finishedMessages(), 0);
    std::vector<QString> texts;
    for (const auto& box : h.boxes().boxes())
        texts.push_back(box.text);
    EXPECT_TRUE(anyContains(texts, h.outputFolder().string())) << allTexts(h);
    EXPECT_TRUE(anyContains(texts, "No such file or directory")) << allTexts(h);
    // One for each file in flight when the folder went, one for the stop.
    const std::size_t atOnce = static_cast<std::size_t>(h.main().filesAtOnce());
    EXPECT_LE(h.boxes().boxes().size(), atOnce + 1) << "one message per file for one missing folder: "
                                                    << allTexts(h);
    EXPECT_FALSE(fs::exists(h.outputFolder())) << "the folder came back";
    EXPECT_EQ(faulttest::contentsOf(in), before);
}

TEST(ChangingFiles, AnOutputFolderThatIsAFileOrInTheScratchFolderIsReportedOnceAndLeftAlone)
{
    // Everything in the scratch folder is deleted at the end of a job; in the RMS modes the
    // normaliser changes the WAV files in it.
    enum class Place { PlainFile, ScratchFolder, InsideScratch, SourceInScratch };
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
        Place place;
    };
    const Row rows[] = {
        {"file, gain", &Tmain::radio_changegain, Place::PlainFile},
        {"file, peak", &Tmain::radio_peak_trackgain, Place::PlainFile},
        {"file, rms", &Tmain::radio_weighted, Place::PlainFile},
        {"scratch, percent", &Tmain::radio_changepercent, Place::ScratchFolder},
        {"scratch, rms", &Tmain::radio_singularly, Place::ScratchFolder},
        {"inside scratch, peak", &Tmain::radio_peak_trackgain, Place::InsideScratch},
        {"source in scratch, rms", &Tmain::radio_collectively, Place::SourceInScratch},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const fs::path in = twoSources(h);
        fs::path first = in / "a.wav";
        fs::path folder = h.dir() / "plain";
        std::string named = folder.string();  // what the message must name
        switch (row.place) {
        case Place::PlainFile:
            testsupport::writeFile(folder, "keep me\n");
            break;
        case Place::ScratchFolder:
            folder = h.scratchFolder();
            named = folder.parent_path().string();  // as chosen: without the final "/"
            break;
        case Place::InsideScratch:
            folder = h.scratchFolder() / "inside";
            named = folder.string();
            fs::create_directories(folder);
            break;
        case Place::SourceInScratch:
            folder = h.outputFolder();
            first = h.scratchFolder() / "source-in-scratch.wav";
            named = first.string();
            fs::copy_file(in / "a.wav", first, fs::copy_options::overwrite_existing);
            break;
        }
        const auto before = faulttest::contentsOf(h.dir().path());
        h.addFiles({first, in / "b.wav"});
        h.choose(h.main().*row.mode);
        h.dialogs().answerFolder(QString::fromStdString(folder.string()));

        h.runJob();

        EXPECT_EQ(h.finishedMessages(), 0);
        ASSERT_EQ(h.boxes().boxes().size(), 1u) << allTexts(h);
        const auto& box = h.boxes().boxes()[0];
        if (row.mode != &Tmain::radio_weighted) {
            EXPECT_NE(box.text.toStdString().find(named), std::string::npos) << allTexts(h);
        }
        if (row.place != Place::PlainFile) {
            EXPECT_EQ(box.caption, QStringLiteral("Error"));
            EXPECT_EQ(box.icon, QMessageBox::Critical);
            EXPECT_TRUE(box.text.contains(QStringLiteral("scratch folder"))) << allTexts(h);
            EXPECT_TRUE(fs::exists(first));
        }
        EXPECT_FALSE(fs::exists(folder / "b.wav"));
        EXPECT_EQ(faulttest::contentsOf(h.dir().path()), before);
        if (row.place == Place::SourceInScratch)
            fs::remove(first);
    }
}

}  // namespace
