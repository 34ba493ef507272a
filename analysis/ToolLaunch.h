#pragma once

#include "analysis/ToolRunResult.h"

#include <string>
#include <vector>

#include <sys/types.h>

class QProcess;

// What every start of an external tool shares, whether the caller waits for it or not.
namespace tool_launch {

// The system's reason why the file at a tool's path cannot be run, or "" when it looks
// runnable. A bare name is left to the search of the program path.
std::string unrunnableReason(const std::string& path);

// Why a start failed, asked of the file itself; QProcess's own text is the fallback for what
// only the exec finds out (a script's missing interpreter, say).
std::string startFailureReason(const std::string& path, const QProcess& process);

// Sets up the process before its start: the tool and its argument vector (no shell), one
// merged output channel, the null device as input, a process group of its own, death with
// the thread that starts it (the program's, which outlives every run) and no inherited
// descriptor beyond 0, 1 and 2.
// A tool of low priority yields the cores to the others (see kLowPriorityNice): work that may
// wait, done in the time the others leave.
enum class Priority { Normal, Low };
inline constexpr int kLowPriorityNice = 10;
void prepare(QProcess& process, const std::string& toolPath,
             const std::vector<std::string>& arguments, Priority priority = Priority::Normal);

// How a started process has ended (by itself: not a cancel), as the result of its run.
ToolRunResult endedRun(const QProcess& process, const std::string& toolPath, pid_t pid);

// Kills what is left of a child's process group. A group id stays reserved while any member
// lives, so this reaches the child's leftovers and, once they are gone, nothing else.
void killGroup(pid_t group);

}  // namespace tool_launch
