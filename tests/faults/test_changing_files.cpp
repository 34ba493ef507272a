// Files and folders that change under a job: a source deleted or replaced after it was added,
// the output folder deleted while the job runs, an output folder that is a file.
#include "FaultChecks.h"
#include "JobHarness.h"

#include "conversion/Tbatchaudioc.h"
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

    h.runJob([&] {
        if (h.main().file_index < 1)
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

TEST(ChangingFiles, AnOutputFolderThatIsAFileIsReportedOnceAndLeftAlone)
{
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
    };
    const Row rows[] = {
        {"gain", &Tmain::radio_changegain},
        {"peak", &Tmain::radio_peak_trackgain},
        {"rms", &Tmain::radio_weighted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const fs::path in = twoSources(h);
        const fs::path notAFolder = h.dir() / "plain";
        testsupport::writeFile(notAFolder, "keep me\n");
        const auto before = faulttest::contentsOf(h.dir().path());
        h.addFiles({in / "a.wav", in / "b.wav"});
        h.choose(h.main().*row.mode);
        h.dialogs().answerFolder(QString::fromStdString(notAFolder.string()));

        h.runJob();

        EXPECT_EQ(h.finishedMessages(), 0);
        ASSERT_EQ(h.boxes().boxes().size(), 1u) << allTexts(h);
        const std::string text = h.boxes().boxes()[0].text.toStdString();
        if (row.mode != &Tmain::radio_weighted) {
            EXPECT_NE(text.find(notAFolder.string()), std::string::npos) << text;
        }
        EXPECT_EQ(testsupport::readFile(notAFolder), "keep me\n");
        EXPECT_EQ(faulttest::contentsOf(h.dir().path()), before);
    }
}

}  // namespace
