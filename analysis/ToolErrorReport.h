#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// What a caller keeps of one tool run's output for the "Error!" message: the lines holding
// "Error ", gathered as "### " + line + "   ", and the last few non-empty lines, which stand in
// when a failing tool printed no "Error " line (ffmpeg reports a missing input or an unwritable
// output folder without one). Feed it every line of the run; start each run with a fresh one.
class ToolErrorReport {
public:
    static constexpr std::size_t kKeptLines = 10;

    void addLine(std::string_view line);

    // "### <line>   ### <line>   ..." (empty when no line held "Error ").
    const std::string& errorText() const { return errorText_; }
    // The error text is not empty once blanks and control characters are cut from its ends.
    bool hasErrorText() const;
    // A line said the output could not be written or closed (tool_output::isWriteFailureLine).
    bool outputFailed() const { return outputFailed_; }
    // Up to kKeptLines last lines that were not blank, oldest first.
    std::vector<std::string> lastLines() const { return {lastLines_.begin(), lastLines_.end()}; }

private:
    std::string errorText_;
    bool outputFailed_ = false;
    std::deque<std::string> lastLines_;
};
