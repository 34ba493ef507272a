// The converter or the normaliser killed by a signal in the middle of a file.
#include "FaultChecks.h"
#include "JobHarness.h"
#include "ToolFaults.h"

#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace fs = std::filesystem;
using faulttest::ToolFaults;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

constexpr long long kCutAt = 100000;  // bytes into a 350 kB WAV

double loudness(const fs::path& file)
{
    return testsupport::measureLoudness(file).integratedLufs;
}

struct Sources {
    fs::path folder;
    fs::path a;
    fs::path b;
};

Sources makeSources(const jobtest::JobHarness& h)
{
    Sources s{h.dir() / "in", h.dir() / "in" / "a.wav", h.dir() / "in" / "b.wav"};
    fs::create_directories(s.folder);
    testsupport::makeSine(s.a, -20, 2);
    testsupport::makeSine(s.b, -26, 2);
    return s;
}

void expectKilledReport(const jobtest::JobHarness& h)
{
    const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
    ASSERT_FALSE(errors.empty());
    for (const QString& error : errors)
        EXPECT_TRUE(error.contains(QStringLiteral("was ended by signal 9"))) << error.toStdString();
    EXPECT_EQ(h.finishedMessages(), 0);
    EXPECT_TRUE(jobtest::descendantsOf(::getpid()).empty()) << "a tool outlived the job";
}

TEST(KilledTools, AConverterKilledWhileWritingLeavesNoPartialFile)
{
    struct Row {
        const char* name;
        QRadioButton* Tmain::*mode;
        bool inScratch;  // killed while writing a WAV copy, else an output
    };
    const Row rows[] = {
        {"gain conversion", &Tmain::radio_changegain, false},
        {"peak conversion", &Tmain::radio_peak_trackgain, false},
        {"rms conversion", &Tmain::radio_singularly, false},
        {"extraction", &Tmain::radio_weighted, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        const Sources src = makeSources(h);
        const auto before = faulttest::contentsOf(src.folder);
        h.addFiles({src.a, src.b});
        h.choose(h.main().*row.mode);
        h.main().edit_volumegain->setText(QStringLiteral("3"));
        {
            ToolFaults kill(row.inScratch ? h.scratchFolder() : h.outputFolder(), kCutAt,
                            ToolFaults::Action::Kill, "client123");
            h.runJob();
        }

        expectKilledReport(h);
        EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
        EXPECT_EQ(faulttest::contentsOf(src.folder), before);
        EXPECT_EQ(faulttest::strayEntries(h.scratchFolder()), "");
        if (row.inScratch) {
            EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty()) << "a cut-off copy was kept";
        }
    }
}

TEST(KilledTools, AConverterKilledAfterItsProgressLinesStillFailsTheFile)
{
    jobtest::JobHarness h;
    const Sources src = makeSources(h);
    h.addFiles({src.a});
    h.choose(h.main().radio_changepercent);
    FakeToolBehaviour dying = FakeToolBehaviour::printing(
        "size=     100kB time=00:00:01.00 bitrate= 800.0kbits/s speed=1x\n");
    dying.signal = SIGKILL;
    h.tools().setFake(FakeToolFolder::Tool::Converter, dying);

    h.runJob();

    expectKilledReport(h);
    EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
}

// A converter that stops early without a word and exits 0 (here: reading only the first half
// second of its first input): its output or copy is shorter than the source and is not kept.
TEST(KilledTools, AConverterThatStopsEarlyWithoutAWordLeavesNoOutputOrCopy)
{
    for (QRadioButton* Tmain::*mode : {&Tmain::radio_changegain, &Tmain::radio_singularly}) {
        jobtest::JobHarness h;
        const Sources src = makeSources(h);
        h.addFiles({src.a, src.b});
        h.choose(h.main().*mode);
        const std::string converter = h.tools().toolPath(FakeToolFolder::Tool::Converter);
        fs::remove(converter);
        testsupport::writeFile(converter, std::string("#!/bin/sh\nexec '") + FFMPEG_EXECUTABLE + "' -t 0.5 \"$@\"\n");
        fs::permissions(converter, fs::perms::owner_all);
        h.runJob();

        const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
        ASSERT_FALSE(errors.empty());
        for (const QString& error : errors)
            EXPECT_TRUE(error.contains(QStringLiteral(":\nthe converter stopped early: what it wrote lasts 0.5")))
                << error.toStdString();
        EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
        EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
    }
}

// A converter that stops printing and never ends is killed after its stall limit (here 1 s and
// half the file's 2 s); the next row runs on the real one.
TEST(KilledTools, AHungConverterFailsItsRowAfterItsStallLimitAndTheNextRowIsWritten)
{
    jobtest::JobHarness h;
    const Sources src = makeSources(h);
    h.addFiles({src.a, src.b});
    h.choose(h.main().radio_changegain);
    h.main().edit_volumegain->setText(QStringLiteral("3"));
    FakeToolBehaviour hangingOnA = FakeToolBehaviour::printingThenRunning({}, FFMPEG_EXECUTABLE);
    hangingOnA.hang = true;
    hangingOnA.hangIf = "a.wav";
    h.tools().setFake(FakeToolFolder::Tool::Converter, hangingOnA);
    ::setenv("AURALON_STALL_SECONDS", "1", 1);
    h.runJob();
    ::unsetenv("AURALON_STALL_SECONDS");

    const auto errors = h.textsWithCaption(QStringLiteral("Error!"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].toStdString(), src.a.string() + ":\n" + h.tools().toolPath(FakeToolFolder::Tool::Converter)
                                           + " stopped responding: no progress for 2 s.");
    EXPECT_EQ(h.filesIn(h.outputFolder()), std::vector<fs::path>{h.outputFolder() / "b.wav"});
    EXPECT_TRUE(jobtest::descendantsOf(::getpid()).empty()) << "the hung tool or its child outlived the job";
}

TEST(KilledTools, ANormaliserKilledWhileRewritingKeepsEveryCopyWholeAndTheNextJobWorks)
{
    jobtest::JobHarness h;
    const Sources src = makeSources(h);
    h.addFiles({src.a, src.b});
    h.choose(h.main().radio_collectively);
    {
        ToolFaults kill(h.scratchFolder(), kCutAt, ToolFaults::Action::Kill, "client");
        h.runJob();
    }

    expectKilledReport(h);
    EXPECT_TRUE(h.filesIn(h.outputFolder()).empty());
    // Each copy is the old one, whole: the rewrite went to a temporary file that never
    // replaced it. Only that temporary file, which no "*.wav" pattern takes, may be left.
    EXPECT_NEAR(loudness(h.scratchFolder() / "0.wav"), loudness(src.a), 0.2);
    EXPECT_NEAR(loudness(h.scratchFolder() / "1.wav"), loudness(src.b), 0.2);
    for (const fs::path& file : h.filesIn(h.scratchFolder())) {
        const std::string name = file.filename().string();
        if (name != "0.wav" && name != "1.wav") {
            EXPECT_TRUE(name.starts_with(".") && name.ends_with(".part")) << name;
        }
    }

    h.boxes().clear();
    h.runJob();
    EXPECT_EQ(h.finishedMessages(), 1);
    EXPECT_TRUE(h.textsWithCaption(QStringLiteral("Error!")).empty());
    EXPECT_TRUE(fs::exists(h.outputFolder() / "a.wav"));
    EXPECT_TRUE(fs::exists(h.outputFolder() / "b.wav"));
    EXPECT_TRUE(h.filesIn(h.scratchFolder()).empty());
}

}  // namespace
