#include "analysis/ToolRunner.h"

#include "analysis/LineSplitter.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <thread>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QStringList toQStringList(const std::vector<std::string>& items)
{
    QStringList list;
    list.reserve(static_cast<qsizetype>(items.size()));
    for (const std::string& item : items)
        list << QString::fromStdString(item);
    return list;
}

// Runs in the child between fork and exec, so only async-signal-safe calls. The child leads a
// group of its own, so that a cancel reaches whatever it starts; descriptors the program opened
// without close-on-exec are marked so that the tool inherits only 0, 1 and 2 (Qt's own pipe
// that reports a failed exec must stay open until the exec, hence marked, not closed).
void prepareChild()
{
    ::setpgid(0, 0);
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    struct rlimit limit {};
    int highest = 4096;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        highest = static_cast<int>(limit.rlim_cur < 65536 ? limit.rlim_cur : 65536);
    for (int fd = 3; fd < highest; ++fd) {
        int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

// The system's reason why the file at a tool's path cannot be run, or "" when it looks
// runnable. A bare name is left to the search of the program path.
std::string unrunnableReason(const std::string& path)
{
    if (path.find('/') == std::string::npos)
        return {};
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (::access(path.c_str(), X_OK) != 0)
        return std::strerror(errno);
    return {};
}

// Why a start failed, asked of the file itself; QProcess's own text is the fallback for what
// only the exec finds out (a script's missing interpreter, say).
std::string startFailureReason(const std::string& path, const QProcess& process)
{
    const std::string reason = unrunnableReason(path);
    return reason.empty() ? process.errorString().toStdString() : reason;
}

void pumpEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// Kills what is left of the child's process group. A group id stays reserved while any member
// lives, so this reaches the child's leftovers and, once they are gone, nothing else.
void killGroup(pid_t group)
{
    if (group > 0)
        ::kill(-group, SIGKILL);
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
    if (std::string reason = unrunnableReason(toolPath_); !reason.empty()) {
        result.outcome = Outcome::StartFailed;
        result.startError = std::move(reason);
        return result;
    }

    QProcess process;
    process.setProgram(QString::fromStdString(toolPath_));
    process.setArguments(toQStringList(arguments_));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier(prepareChild);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        result.outcome = Outcome::StartFailed;
        result.startError = startFailureReason(toolPath_, process);
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
    killGroup(result.pid);
    if (process.exitStatus() == QProcess::CrashExit) {
        result.outcome = Outcome::Signalled;
        result.signalNumber = process.exitCode();  // Qt keeps the signal number there
    } else {
        result.exitStatus = process.exitCode();
        result.outcome = result.exitStatus == 0 ? Outcome::Succeeded : Outcome::ExitStatus;
    }
    return result;
}

ToolRunResult run_tool(const std::string& toolPath, const std::vector<std::string>& arguments,
                       const bool& cancelFlag, const ToolRunner::LineHandler& onLine)
{
    return ToolRunner(toolPath, arguments).run(cancelFlag, onLine);
}
