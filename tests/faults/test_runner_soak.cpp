// A thousand tool runs in a row: every one ends with its process reaped and its pipe closed,
// whether the tool succeeds, fails, dies by a signal, is cancelled or cannot be started.
#include "analysis/ToolRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <sys/wait.h>

namespace fs = std::filesystem;
using Outcome = ToolRunResult::Outcome;

namespace {

int openDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count - 1;  // the iterator's own
}

// What the open descriptors are, for the failure message.
std::string descriptorList()
{
    std::string list;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        list += entry.path().filename().string() + " -> " +
                fs::read_symlink(entry.path(), ec).string() + "\n";
    }
    return list;
}

// "" when this process has no child at all, else what is left.
std::string leftoverChildren()
{
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid == -1 && errno == ECHILD)
        return {};
    return pid == 0 ? "a child still runs" : "a zombie was left: " + std::to_string(pid);
}

struct Plan {
    std::string tool;
    std::vector<std::string> args;
    Outcome expected;
};

// Most runs are the trivial tool; every so often one that fails, dies or hangs until cancelled.
Plan planFor(int run, const std::string& textFile)
{
    const std::string tool = AURALON_TEST_FAKE_TOOL;
    if (run % 100 == 7)
        return {tool, {"--hang"}, Outcome::Cancelled};
    if (run % 100 == 13)
        return {tool + ".missing", {}, Outcome::StartFailed};
    if (run % 50 == 3)
        return {tool, {"--text", textFile, "--signal", "9"}, Outcome::Signalled};
    if (run % 10 == 5)
        return {tool, {"--exit", "3"}, Outcome::ExitStatus};
    return {tool, {"--text", textFile, "--exit", "0"}, Outcome::Succeeded};
}

TEST(RunnerSoak, AThousandRunsLeaveNoDescriptorNoZombieAndNoChild)
{
    int argc = 1;
    char name[] = "test_runner_soak";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    testsupport::TempDir dir;
    const fs::path textFile = dir / "out.txt";
    testsupport::writeFile(textFile, "size=       1kB time=00:00:00.10 bitrate=  80.0kbits/s\n");

    auto runOnce = [&](int run) {
        const Plan plan = planFor(run, textFile.string());
        bool cancel = false;
        int lines = 0;
        const ToolRunResult result = run_tool(plan.tool, plan.args, cancel, [&](std::string_view line) {
            ++lines;
            if (line.starts_with("pid="))
                cancel = true;  // the hanging tool is up: cancel it
        });
        EXPECT_EQ(result.outcome, plan.expected) << "run " << run;
        if (plan.expected == Outcome::Succeeded) {
            EXPECT_EQ(lines, 1) << "run " << run;
        }
        return result.outcome;
    };

    for (int run = 0; run < 5; ++run)  // Qt opens what it keeps for later runs on the first
        runOnce(run);
    const int descriptors = openDescriptors();
    std::map<Outcome, int> outcomes;
    for (int run = 0; run < 1000; ++run)
        ++outcomes[runOnce(run)];

    EXPECT_EQ(outcomes[Outcome::Cancelled], 10);
    EXPECT_EQ(outcomes[Outcome::StartFailed], 10);
    EXPECT_EQ(outcomes[Outcome::Signalled], 20);
    EXPECT_EQ(outcomes[Outcome::ExitStatus], 100);
    EXPECT_EQ(outcomes[Outcome::Succeeded], 860);
    EXPECT_EQ(openDescriptors(), descriptors) << descriptorList();
    EXPECT_EQ(leftoverChildren(), "");
}

}  // namespace
