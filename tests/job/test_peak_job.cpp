// Whole peak jobs: the measured level in the "Peak Analysis" cell and outputs raised (or
// lowered) to full scale, with the failures of the measurement.
#include "JobHarness.h"

#include "app/stages/Tdetectpeak.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QPushButton>

#include <cmath>
#include <cstdint>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

// Samples at either end of the 16-bit range: clipped ones, or ones that were already there.
std::size_t fullScaleSamples(const fs::path& file)
{
    const fs::path raw = file.string() + ".raw";
    testsupport::ffmpeg({"-i", file.string(), "-f", "s16le", raw.string()});
    const std::string bytes = testsupport::readFile(raw);
    fs::remove(raw);
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i])
                                                      | static_cast<unsigned char>(bytes[i + 1]) << 8);
        count += sample == INT16_MAX || sample == INT16_MIN;
    }
    return count;
}

TEST(PeakJob, CellsHoldTheGainAndOutputsPeakAtFullScale)
{
    struct Row {
        const char* name;
        double peakDb;      // of the source; NAN for silence
        const char* codec;  // of the WAV source
        double cellGain;    // expected in the cell; NAN for an empty cell
    };
    const Row rows[] = {
        {"minus3_5.wav", -3.5, "pcm_s16le", 3.5},
        {"minus12_25.wav", -12.25, "pcm_s16le", 12.25},
        // Reported rounded to -1.1 dB: a gain of 1.1 dB would clip.
        {"minus1_06.wav", -1.06, "pcm_s16le", 1.1},
        {"full.wav", 0.0, "pcm_s16le", 0.0},
        // The measuring filter reads 16-bit samples, so a float file above full scale is
        // reported at 0.0 dB (the report of a level above it is tested with a fake below).
        {"above.wav", 20 * std::log10(1.5), "pcm_f32le", 0.0},
        // Digital silence is reported at -91.0 dB: the gain leaves it silent.
        {"silent.wav", NAN, "pcm_s16le", 91.0},
    };
    jobtest::JobHarness h;
    std::vector<fs::path> sources;
    for (const Row& row : rows) {
        sources.push_back(h.dir() / row.name);
        if (std::isnan(row.peakDb))
            testsupport::makeMedia(sources.back(), "anullsrc=sample_rate=44100", {}, {"-t", "1"});
        else
            testsupport::makeSine(sources.back(), row.peakDb, 1, 2, {"-c:a", row.codec});
    }
    h.addFiles(sources);
    h.choose(h.main().radio_peak_trackgain);

    h.runJob();

    EXPECT_TRUE(h.textsWithCaption(QStringLiteral("Error!")).empty());
    EXPECT_EQ(h.finishedMessages(), 1);
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        const QString cell = h.main().rowCell(i, 3);
        const double measured = testsupport::measureVolume(h.outputFolder() / row.name).maxDb;
        EXPECT_NEAR(cell.toDouble(), row.cellGain, 0.06) << cell.toStdString();
        if (std::isnan(row.peakDb))
            EXPECT_LT(measured, -90);
        else
            EXPECT_NEAR(measured, 0.0, 0.1);
        EXPECT_LE(fullScaleSamples(h.outputFolder() / row.name), fullScaleSamples(sources[i]));
    }
}

// A middle file whose peak cannot be measured is still converted, without a level change (a
// file gone since is then refused when it is opened); a failing last file stops the job.
TEST(PeakJob, AFailingMiddleFileIsReportedAndConvertedUnchangedAFailingLastFileStopsTheJob)
{
    struct Row {
        const char* name;
        std::vector<const char*> files;  // "gone" is listed, then deleted
        bool finished;
        bool gone = true;  // else only the measuring of "gone" fails, and the file stays
    };
    const Row rows[] = {
        {"middle", {"a.wav", "gone.wav", "b.wav"}, true},
        {"middle, only its measuring fails", {"a.wav", "gone.wav", "b.wav"}, true, false},
        {"last", {"a.wav", "gone.wav"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        std::vector<fs::path> files;
        for (const char* name : row.files) {
            files.push_back(h.dir() / name);
            testsupport::makeSine(files.back(), -6, 1);
        }
        h.addFiles(files);
        if (row.gone) {
            fs::remove(h.dir() / "gone.wav");
        } else {
            // A converter that fails the peak run of that file alone.
            const fs::path converter = h.tools().toolPath(FakeToolFolder::Tool::Converter);
            fs::remove(converter);
            testsupport::writeFile(converter, "#!/bin/sh\ncase \"$*\" in *gone.wav*volumedetect*) echo Error reading gone.wav; exit 1;; esac\n"
                                              "exec " FFMPEG_EXECUTABLE " \"$@\"\n");
            fs::permissions(converter, fs::perms::owner_all);
        }
        h.choose(h.main().radio_peak_trackgain);

        h.runJob();

        const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("gone.wav")));
        EXPECT_TRUE(errors[0].contains(QStringLiteral("exit status 1"))) << errors[0].toStdString();
        EXPECT_TRUE(h.main().rowCell(1, 3).isEmpty());
        EXPECT_EQ(h.finishedMessages(), row.finished ? 1 : 0);
        EXPECT_EQ(fs::exists(h.outputFolder() / "gone.wav"), !row.gone);
        EXPECT_EQ(fs::exists(h.outputFolder() / "a.wav"), row.finished);
        EXPECT_EQ(fs::exists(h.outputFolder() / "b.wav"), row.finished);
        if (!row.gone) {
            EXPECT_NEAR(testsupport::measureVolume(h.outputFolder() / "gone.wav").maxDb, -6, 0.1);
            EXPECT_TRUE(h.main().rowNote(1).contains(QStringLiteral("converted without a level change")));
        }
    }
}

TEST(PeakJob, TheCellHoldsTheNegatedReportAndNothingForSilence)
{
    const std::pair<const char*, const char*> rows[] = {
        {"-3.5", "3.5"}, {"1.5", "-1.5"}, {"-0.0", "0.0"}, {"-inf", ""},
    };
    jobtest::JobHarness h;
    const fs::path source = h.dir() / "a.wav";
    testsupport::makeSine(source, -6, 1);
    h.addFiles({source});
    h.choose(h.main().radio_peak_trackgain);
    for (const auto& [reported, cell] : rows) {
        SCOPED_TRACE(reported);
        h.main().setRowCell(0, 3, QStringLiteral("stale"));
        h.tools().setFake(FakeToolFolder::Tool::Converter,
                          FakeToolBehaviour::printing(std::string("[Parsed_volumedetect_0 @ 0x1] max_volume: ")
                                                      + reported + " dB\n"));
        h.runJob();  // the fake converts nothing: that failure is not tested here
        EXPECT_EQ(h.main().rowCell(0, 3), QString::fromLatin1(cell));
    }
}

TEST(PeakJob, AReportSplitAnywhereIsSeenOnce)
{
    const std::string prefix = "[Parsed_volumedetect_0 @ 0x5555] ";
    const std::string text = prefix + "max_volume: -3.5 dB\n";
    jobtest::JobHarness h;
    const fs::path source = h.dir() / "a.wav";
    testsupport::makeSine(source, -6, 1);
    h.addFiles({source, source, source});
    h.choose(h.main().radio_peak_trackgain);
    for (std::size_t cut = prefix.size(); cut < text.size(); ++cut) {
        SCOPED_TRACE(cut);
        for (int row = 0; row < 3; ++row)
            h.main().setRowCell(row, 3, QString());
        FakeToolBehaviour fake = FakeToolBehaviour::printing(text, cut);
        fake.pauseMs = 20;
        h.tools().setFake(FakeToolFolder::Tool::Converter, fake);

        h.runJob();  // the fake converts nothing: the conversions fail, which is not tested here

        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(h.main().rowCell(row, 3), QStringLiteral("3.5"));
        EXPECT_EQ(h.main().detectpeak->progresstotal->value(), 99);  // three steps of 33
    }
}

TEST(PeakJob, CancelEndsTheMeasuringToolAndTheJob)
{
    jobtest::JobHarness h;
    const fs::path source = h.dir() / "a.wav";
    testsupport::makeSine(source, -6, 1);
    h.addFiles({source, source});
    h.choose(h.main().radio_peak_trackgain);
    h.tools().setFake(FakeToolFolder::Tool::Converter, FakeToolBehaviour::hanging());

    // Every run the job keeps going at once is under way, each with its child.
    const std::size_t atOnce = static_cast<std::size_t>(h.main().filesAtOnce());
    std::vector<long> children;
    h.runJob([&] {
        children = jobtest::descendantsOf(::getpid());
        if (children.size() < 2 * atOnce)
            return false;
        h.main().detectpeak->Button1->click();
        return true;
    });

    ASSERT_GE(children.size(), 2 * atOnce);
    for (long pid : children)
        EXPECT_FALSE(jobtest::processAlive(pid)) << pid;
    EXPECT_TRUE(h.boxes().boxes().empty());
    EXPECT_EQ(h.tools().recordedRuns(FakeToolFolder::Tool::Converter).size(), atOnce) << "the job went on";
    EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
}

}  // namespace
