#include "analysis/ToolErrorReport.h"

#include "analysis/ToolOutputParsers.h"

void ToolErrorReport::addLine(std::string_view line)
{
    if (tool_output::isErrorLine(line))
        errorText_ += tool_output::errorEntry(line);
    outputFailed_ = outputFailed_ || tool_output::isWriteFailureLine(line);
    if (tool_output::trimmed(line).empty())
        return;
    lastLines_.emplace_back(line);
    if (lastLines_.size() > kKeptLines)
        lastLines_.pop_front();
}

bool ToolErrorReport::hasErrorText() const { return !tool_output::trimmed(errorText_).empty(); }
