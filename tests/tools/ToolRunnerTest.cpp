#include "analysis/ToolErrorReport.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunMessages.h"
#include "analysis/ToolRunner.h"
#include "base/ProgramFolders.h"
#include "tools/ToolContracts.h"

#include "support/FakeToolFolder.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;
using Tool = FakeToolFolder::Tool;
using Outcome = ToolRunResult::Outcome;

namespace {

class ToolRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "tools_runner_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QCoreApplication>(argc, argv);
        // Orphans of the tools become this process's children, so the test sees them end.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    }

    // Runs the fake converter and gathers its lines.
    ToolRunResult runFake(const FakeToolBehaviour& behaviour, std::vector<std::string>& lines,
                          const bool& cancel = false)
    {
        folder_.setFake(Tool::Converter, behaviour);
        return run_tool(folder_.toolPath(Tool::Converter), {"-i", "in.wav"}, cancel,
                        [&](std::string_view line) { lines.emplace_back(line); });
    }

    std::unique_ptr<QCoreApplication> app_;
    FakeToolFolder folder_;
};

// The child was reaped: there is nothing of it left to wait for.
bool reaped(pid_t pid)
{
    errno = 0;
    return ::waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Nothing of the process group is left.
bool groupGone(pid_t group)
{
    errno = 0;
    return ::kill(-group, 0) == -1 && errno == ESRCH;
}

// Waits a bounded while (never as a measure) for a killed orphan to die, and reaps it.
bool orphanEnds(pid_t pid)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t got = ::waitpid(pid, nullptr, WNOHANG);
        if (got == pid || (got == -1 && errno == ECHILD && ::kill(pid, 0) != 0))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);  // leave nothing running behind a failed test
    ::waitpid(pid, nullptr, 0);
    return false;
}

// "pid=123 child=456" or "orphan=456" -> the number after key.
pid_t numberAfter(const std::vector<std::string>& lines, const std::string& key)
{
    for (const std::string& line : lines)
        if (auto at = line.find(key); at != std::string::npos)
            return static_cast<pid_t>(std::stol(line.substr(at + key.size())));
    return 0;
}

int openDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

}  // namespace

TEST_F(ToolRunnerTest, RealConverterReportsThePeakOrFailsWithItsLastLines)
{
    testsupport::TempDir dir;
    testsupport::makeSine(dir / "tone.wav", -3.5, 2.0);
    std::optional<std::string> gain;
    bool progress = false, cancel = false;
    ToolRunResult result =
        run_tool(FFMPEG_EXECUTABLE, tool_contracts::peakMeasurementArgs((dir / "tone.wav").string()),
                 cancel, [&](std::string_view line) {
                     if (tool_output::isMaxVolumeLine(line))
                         gain = tool_output::peakGainText(line);
                     progress = progress || tool_output::isProgressLine(line);
                 });
    EXPECT_EQ(result.outcome, Outcome::Succeeded) << tool_messages::resultText(result);
    EXPECT_EQ(gain, "3.5");
    EXPECT_TRUE(progress);
    EXPECT_FALSE(std::filesystem::exists("nul"));
    EXPECT_TRUE(reaped(result.pid));

    // ffmpeg names a missing input without any "Error " line.
    ToolErrorReport report;
    result = run_tool(FFMPEG_EXECUTABLE, tool_contracts::peakMeasurementArgs("/nonexistent/in.wav"),
                      cancel, [&](std::string_view line) { report.addLine(line); });
    ASSERT_EQ(result.outcome, Outcome::ExitStatus);
    std::string message = tool_messages::finishedRunMessage(result, report, false);
    EXPECT_NE(message.find("/nonexistent/in.wav: No such file or directory"), std::string::npos) << message;
}

TEST_F(ToolRunnerTest, OutputWrittenJustBeforeExitIsHandedOverWholeAndInOrder)
{
    // Far more than a pipe holds, so the last part is still waiting when the tool has ended.
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "line " + std::to_string(i) + (i % 3 ? "\n" : "\r");
    text += "last line without newline";
    std::vector<std::string> lines;
    EXPECT_EQ(runFake(FakeToolBehaviour::printing(text), lines).outcome, Outcome::Succeeded);
    ASSERT_EQ(lines.size(), 100001u);
    EXPECT_EQ(lines[99999], "line 99999");
    EXPECT_EQ(lines.back(), "last line without newline");
}

TEST_F(ToolRunnerTest, AMarkerSplitAtEveryBytePositionIsFoundOnce)
{
    const std::string text = "[Parsed_volumedetect_0 @ 0x1] mean_volume: -9.0 dB\n"
                             "[Parsed_volumedetect_0 @ 0x1] max_volume: -3.5 dB\n";
    for (std::size_t cut = text.find("max_volume:") - 2; cut <= text.size(); ++cut) {
        FakeToolBehaviour behaviour = FakeToolBehaviour::printing(text, cut);
        behaviour.pauseMs = 20;
        std::vector<std::string> lines;
        runFake(behaviour, lines);
        int found = 0;
        for (const std::string& line : lines)
            found += tool_output::peakGainText(line) == "3.5";
        EXPECT_EQ(found, 1) << "cut at " << cut;
    }
}

TEST_F(ToolRunnerTest, CancelFromTheEventPumpKillsTheHangingToolAndItsChild)
{
    bool cancel = false;
    std::vector<std::string> lines;
    QTimer cancelButton;  // stands for the dialog's Cancel, reached only through the pump
    QObject::connect(&cancelButton, &QTimer::timeout, [&] { cancel = numberAfter(lines, "child=") != 0; });
    cancelButton.start(20);
    ToolRunResult result = runFake(FakeToolBehaviour::hanging(), lines, cancel);
    EXPECT_EQ(result.outcome, Outcome::Cancelled);
    EXPECT_TRUE(reaped(result.pid));
    EXPECT_TRUE(orphanEnds(numberAfter(lines, "child=")));
    EXPECT_TRUE(groupGone(result.pid));
    EXPECT_EQ(tool_messages::finishedRunMessage(result, ToolErrorReport(), false), "");

    // A cancel given before the start starts nothing.
    result = runFake(FakeToolBehaviour::exitWith(0), lines, true);
    EXPECT_EQ(result.outcome, Outcome::Cancelled);
    EXPECT_EQ(result.pid, 0);
    EXPECT_EQ(folder_.recordedRuns(Tool::Converter).size(), 1u);  // the hanging run only
}

TEST_F(ToolRunnerTest, AChildLeftBehindByAFinishedToolIsKilled)
{
    FakeToolBehaviour behaviour = FakeToolBehaviour::exitWith(0);
    behaviour.orphan = true;
    std::vector<std::string> lines;
    ToolRunResult result = runFake(behaviour, lines);
    EXPECT_EQ(result.outcome, Outcome::Succeeded);
    EXPECT_TRUE(orphanEnds(numberAfter(lines, "orphan=")));
    EXPECT_TRUE(groupGone(result.pid));
}

TEST_F(ToolRunnerTest, StartFailuresNameThePathAndTheReason)
{
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    std::filesystem::create_directory(dir / "a-folder");
    for (auto [name, reason] : {std::pair{"missing", "No such file or directory"},
                                std::pair{"not-executable", "Permission denied"},
                                std::pair{"a-folder", "Is a directory"}}) {
        bool cancel = false;
        const std::string path = (dir / name).string();
        ToolRunResult result = run_tool(path, {"-i", "x"}, cancel, {});
        EXPECT_EQ(result.outcome, Outcome::StartFailed) << path;
        EXPECT_EQ(tool_messages::finishedRunMessage(result, ToolErrorReport(), false),
                  "Cannot start " + path + ": " + reason);
    }
}

TEST_F(ToolRunnerTest, ExitStatusesSignalsAndTheirMessages)
{
    struct Row {
        FakeToolBehaviour behaviour;
        Outcome outcome;
        int status, signal;
        std::string inMessage;
    };
    for (const Row& row : std::vector<Row>{
             {FakeToolBehaviour::exitWith(0), Outcome::Succeeded, 0, 0, ""},
             {FakeToolBehaviour::silentFailure(), Outcome::ExitStatus, 1, 0,
              "ffmpeg version 5.1\n/x/missing.wav: No such file or directory\n"},
             {FakeToolBehaviour::errorLines(), Outcome::ExitStatus, 1, 0,
              "### Error while decoding stream #0:0: Invalid data found when processing input   "
              "### [out#0 @ 0x1] Error opening output file /x/out.mp3.\n"},
             {FakeToolBehaviour::crashWith(SIGSEGV), Outcome::Signalled, 0, SIGSEGV, "was ended by signal 11"},
         }) {
        ToolErrorReport report;
        bool cancel = false;
        folder_.setFake(Tool::Converter, row.behaviour);
        ToolRunResult result = run_tool(folder_.toolPath(Tool::Converter), {}, cancel,
                                        [&](std::string_view line) { report.addLine(line); });
        EXPECT_EQ(result.outcome, row.outcome) << tool_messages::resultText(result);
        EXPECT_EQ(result.exitStatus, row.status);
        EXPECT_EQ(result.signalNumber, row.signal);
        std::string message = tool_messages::finishedRunMessage(result, report, true);
        EXPECT_EQ(row.inMessage.empty(), message.empty()) << message;
        EXPECT_NE(message.find(row.inMessage), std::string::npos) << message;
        EXPECT_TRUE(reaped(result.pid));
        EXPECT_TRUE(groupGone(result.pid));
    }
}

TEST_F(ToolRunnerTest, ArgumentsArriveUnchangedThroughTheWindowsDirectory)
{
    folder_.setFake(Tool::Converter, FakeToolBehaviour::exitWith(0));
    folder_.useAsWindowsDirectory();
    ASSERT_EQ(program_folders::converterPath(), folder_.toolPath(Tool::Converter));
    const std::vector<std::string> args{"-i", "/Some Folder/it's \"quoted\" $HOME.wav", "", "/Tmp/*.wav"};
    bool cancel = false;
    run_tool(program_folders::converterPath(), args, cancel, {});
    ASSERT_EQ(folder_.recordedRuns(Tool::Converter).size(), 1u);
    EXPECT_EQ(folder_.recordedRuns(Tool::Converter)[0], args);
}

TEST_F(ToolRunnerTest, NoDescriptorIsLeakedOrInherited)
{
    // A descriptor opened without close-on-exec must not reach the tool.
    int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 3);
    std::vector<std::string> lines;
    bool cancel = false;
    run_tool(AURALON_TEST_FAKE_TOOL, {"--list-fds"}, cancel,
             [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(lines, std::vector<std::string>{"fds: 0 1 2"});
    ::close(stray);

    const int before = openDescriptorCount();
    for (int i = 0; i < 200; ++i) {
        ToolRunResult result = run_tool(AURALON_TEST_FAKE_TOOL, {"--exit", "0"}, cancel, {});
        ASSERT_EQ(result.outcome, Outcome::Succeeded);
        ASSERT_TRUE(reaped(result.pid));
    }
    EXPECT_EQ(openDescriptorCount(), before);
}
