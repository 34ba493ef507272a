#pragma once

#include "analysis/ToolRunResult.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Runs one external tool as a child process and hands its output over line by line while it
// runs, keeping the user interface alive.
//
// - The tool is started from its path and an argument vector, never through a shell; standard
//   output and standard error share one channel; standard input is the null device; the child
//   leads a process group of its own and inherits no other descriptor.
// - Every turn of the loop: if the cancel flag is set, the whole process group is killed and
//   the run ends as Cancelled (no further lines are handed over); else it waits a few
//   milliseconds for output (never spinning a core), reads at most 512 bytes at a time while
//   bytes are waiting, and looks at the process state only when none are, so output still in
//   the pipe is read first; then Qt's events are pumped once (that is how a Cancel button
//   sets the flag).
// - Lines are complete lines (see LineSplitter): a marker split across reads is seen once; the
//   last unfinished line is handed over when the child has ended.
// - When the child has ended, whatever is left of its process group (a grandchild that outlived
//   it) is killed too; no zombie remains.
// - A cancel flag already set before the start starts nothing: the run is Cancelled at once.
//
// Runs nest only if a caller's line handler or the pumped events start another run; each run
// owns its own process.
class ToolRunner {
public:
    using LineHandler = std::function<void(std::string_view line)>;

    // How long one turn waits for output when none is waiting.
    static constexpr int kWaitMilliseconds = 10;
    // Turns are at least this far apart while output trickles in, so a tool that writes line
    // by line is read a few lines at a time instead of waking the loop for every line.
    static constexpr int kMinimumTurnMilliseconds = 5;
    static constexpr int kReadSize = 512;

    ToolRunner(std::string toolPath, std::vector<std::string> arguments);

    // Blocks until the child has ended or the cancel flag was found set. The flag is read at
    // every turn, so a handler run by the event pump (or the line handler itself) may set it.
    ToolRunResult run(const bool& cancelFlag, const LineHandler& onLine);

private:
    std::string toolPath_;
    std::vector<std::string> arguments_;
};

// One run: ToolRunner(toolPath, arguments).run(cancelFlag, onLine).
ToolRunResult run_tool(const std::string& toolPath, const std::vector<std::string>& arguments,
                       const bool& cancelFlag, const ToolRunner::LineHandler& onLine);
