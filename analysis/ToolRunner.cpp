#include "analysis/ToolRunner.h"

#include "analysis/LineSplitter.h"
#include "analysis/ToolLaunch.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

void pumpEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

}  // namespace

ToolRunner::ToolRunner(std::string toolPath, std::vector<std::string> arguments)
    : toolPath_(std::move(toolPath)), arguments_(std::move(arguments))
{
}

ToolRunResult ToolRunner::run(const bool& cancelFlag, const LineHandler& onLine)
{
    using Outcome = ToolRunResult::Outcome;
    ToolRunResult result;
    result.toolPath = toolPath_;
    if (cancelFlag) {
        result.outcome = Outcome::Cancelled;
        return result;
    }

    // QProcess keeps one pipe open for every start whose exec fails, so a tool that is missing
    // or not executable is found out before anything is opened.
    if (std::string reason = tool_launch::unrunnableReason(toolPath_); !reason.empty()) {
        result.outcome = Outcome::StartFailed;
        result.startError = std::move(reason);
        return result;
    }

    QProcess process;
    tool_launch::prepare(process, toolPath_, arguments_);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        result.outcome = Outcome::StartFailed;
        result.startError = tool_launch::startFailureReason(toolPath_, process);
        return result;
    }
    result.pid = static_cast<pid_t>(process.processId());

    LineSplitter splitter;
    char buffer[kReadSize];
    const auto minimumTurn = std::chrono::milliseconds(kMinimumTurnMilliseconds);
    auto lastTurn = std::chrono::steady_clock::now();
    for (;;) {
        if (cancelFlag) {
            if (::kill(-result.pid, SIGKILL) != 0)
                process.kill();
            process.waitForFinished(-1);
            result.outcome = Outcome::Cancelled;
            return result;
        }
        if (process.bytesAvailable() == 0 && process.state() != QProcess::NotRunning) {
            // A tool that writes line by line would otherwise wake the loop for every line;
            // letting a few milliseconds of output gather costs nothing visible.
            const auto sinceTurn = std::chrono::steady_clock::now() - lastTurn;
            if (sinceTurn < minimumTurn)
                std::this_thread::sleep_for(minimumTurn - sinceTurn);
            process.waitForReadyRead(kWaitMilliseconds);
        }
        lastTurn = std::chrono::steady_clock::now();
        bool readSomething = false;
        while (!cancelFlag && process.bytesAvailable() > 0) {
            qint64 count = process.read(buffer, kReadSize);
            if (count <= 0)
                break;
            readSomething = true;
            splitter.feed(std::string_view(buffer, static_cast<std::size_t>(count)), onLine);
        }
        if (!readSomething && !cancelFlag && process.state() == QProcess::NotRunning)
            break;
        pumpEvents();
    }

    splitter.finish(onLine);
    tool_launch::killGroup(result.pid);
    return tool_launch::endedRun(process, toolPath_, result.pid);
}

ToolRunResult run_tool(const std::string& toolPath, const std::vector<std::string>& arguments,
                       const bool& cancelFlag, const ToolRunner::LineHandler& onLine)
{
    return ToolRunner(toolPath, arguments).run(cancelFlag, onLine);
}
