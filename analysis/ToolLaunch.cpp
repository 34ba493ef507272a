#include "analysis/ToolLaunch.h"

#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Runs in the child between fork and exec, so only async-signal-safe calls. The child leads a
// group of its own, so that a cancel reaches whatever it starts, and is killed when the
// program dies, however it dies (a program killed before this line ran has a new parent by
// now: then the child goes at once); descriptors the program opened without close-on-exec are
// marked so that the tool inherits only 0, 1 and 2 (Qt's own pipe that reports a failed exec
// must stay open until the exec, hence marked, not closed).
void prepareChild(pid_t program, bool low)
{
    ::setpgid(0, 0);
    if (low)
        ::setpriority(PRIO_PROCESS, 0, tool_launch::kLowPriorityNice);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != program)
        ::_exit(127);
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

}  // namespace

namespace tool_launch {

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

std::string startFailureReason(const std::string& path, const QProcess& process)
{
    const std::string reason = unrunnableReason(path);
    return reason.empty() ? process.errorString().toStdString() : reason;
}

void prepare(QProcess& process, const std::string& toolPath,
             const std::vector<std::string>& arguments, Priority priority)
{
    QStringList list;
    list.reserve(static_cast<qsizetype>(arguments.size()));
    for (const std::string& argument : arguments)
        list << QString::fromStdString(argument);
    process.setProgram(QString::fromStdString(toolPath));
    process.setArguments(list);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier(
        [program = ::getpid(), low = priority == Priority::Low] { prepareChild(program, low); });
}

ToolRunResult endedRun(const QProcess& process, const std::string& toolPath, pid_t pid)
{
    ToolRunResult result;
    result.toolPath = toolPath;
    result.pid = pid;
    if (process.exitStatus() == QProcess::CrashExit) {
        result.outcome = ToolRunResult::Outcome::Signalled;
        result.signalNumber = process.exitCode();  // Qt keeps the signal number there
    } else {
        result.exitStatus = process.exitCode();
        result.outcome = result.exitStatus == 0 ? ToolRunResult::Outcome::Succeeded
                                                : ToolRunResult::Outcome::ExitStatus;
    }
    return result;
}

void killGroup(pid_t group)
{
    if (group > 0)
        ::kill(-group, SIGKILL);
}

}  // namespace tool_launch
