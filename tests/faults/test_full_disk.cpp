// A disk that fills up while a job writes: in the WAV extraction, in the normaliser's rewrite
// of the copies, and in the conversion of every kind of job.
#include "FaultChecks.h"
#include "JobHarness.h"
#include "ToolFaults.h"

#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QLineEdit>

namespace fs = std::filesystem;
using faulttest::ToolFaults;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

// Far below the 350 kB of a 2 s stereo WAV, far above a WAV header.
constexpr long long kRoom = 100000;
// Below the 30 kB of a 2 s MP3, above the 8 kB of a 0.5 s one: only the trailer's write fails,
// and the converter still exits 0.
constexpr long long kMp3Room = 20000;

double loudness(const fs::path& file)
{
    return testsupport::measureLoudness(file).integratedLufs;
}

TEST(FullDisk, EveryStageReportsTheFullDiskWritesNothingPartialAndLeavesSourcesAlone)
{
    enum class Where { Scratch, Output };
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
        Where where;
        const char* program;
        bool mp3 = false;  // a 2 s and a 0.5 s MP3: only the first output finds the disk full
    };
    const Row rows[] = {
        {"extraction", &Tmain::radio_singularly, Where::Scratch, "client123"},
        {"normalisation", &Tmain::radio_collectively, Where::Scratch, "client"},
        {"gain conversion", &Tmain::radio_changegain, Where::Output, "client123"},
        {"peak conversion", &Tmain::radio_peak_trackgain, Where::Output, "client123"},
        {"rms conversion", &Tmain::radio_arithmetic, Where::Output, "client123"},
        {"gain mp3 trailer", &Tmain::radio_changegain, Where::Output, "client123", true},
        {"peak mp3 trailer", &Tmain::radio_peak_trackgain, Where::Output, "client123", true},
        {"rms mp3 trailer", &Tmain::radio_singularly, Where::Output, "client123", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const fs::path sources = h.dir() / "in";
        fs::create_directories(sources);
        const std::string extension = row.mp3 ? ".mp3" : ".wav";
        testsupport::makeSine(sources / ("a" + extension), -20, 2);
        testsupport::makeSine(sources / ("b" + extension), -26, row.mp3 ? 0.5 : 2);
        const auto before = faulttest::contentsOf(sources);
        h.addFiles({sources / ("a" + extension), sources / ("b" + extension)});
        h.choose(h.main().*row.mode);
        h.main().edit_volumegain->setText(QStringLiteral("3"));
        {
            const fs::path limited = row.where == Where::Scratch ? h.scratchFolder() : h.outputFolder();
            ToolFaults full(limited, row.mp3 ? kMp3Room : kRoom, ToolFaults::Action::DiskFull, row.program);
            h.runJob();
        }

        const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
        if (row.mp3) {
            // The short file is written whole; the cut one is named and leaves no file.
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_TRUE(errors[0].startsWith(QString::fromStdString((sources / "a.mp3").string() + ":\n")))
                << errors[0].toStdString();
            EXPECT_TRUE(errors[0].contains(QStringLiteral("No space left on device"))) << errors[0].toStdString();
            EXPECT_EQ(h.filesIn(h.outputFolder()), std::vector<fs::path>{h.outputFolder() / "b.mp3"});
            EXPECT_NEAR(std::stod(testsupport::ffprobeValue(h.outputFolder() / "b.mp3", "format=duration")), 0.5, 0.1);
            EXPECT_EQ(faulttest::contentsOf(sources), before);
            continue;
        }
        EXPECT_EQ(h.finishedMessages(), 0);
        ASSERT_FALSE(errors.empty());
        const bool perFile = std::string(row.program) == "client123";
        for (const QString& error : errors) {
            EXPECT_TRUE(error.contains(QStringLiteral("No space left on device"))) << error.toStdString();
            // The converter's own words name a scratch copy or a hidden file; the message
            // must name the source the user knows.
            if (perFile) {
                EXPECT_TRUE(error.startsWith(QString::fromStdString((sources / "a.wav").string())) ||
                            error.startsWith(QString::fromStdString((sources / "b.wav").string())))
                    << error.toStdString();
            }
        }
        EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
        EXPECT_EQ(faulttest::contentsOf(sources), before);
        EXPECT_EQ(faulttest::strayEntries(h.scratchFolder()), "");
        if (row.where == Where::Scratch && std::string(row.program) == "client") {
            // The copies the normaliser could not rewrite are whole and still unadjusted.
            EXPECT_NEAR(loudness(h.scratchFolder() / "0.wav"), loudness(sources / "a.wav"), 0.2);
            EXPECT_NEAR(loudness(h.scratchFolder() / "1.wav"), loudness(sources / "b.wav"), 0.2);
        }
        if (row.where == Where::Scratch && std::string(row.program) == "client123") {
            EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty()) << "a cut-off copy was kept";
        }
    }
}

}  // namespace
