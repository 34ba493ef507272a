#include "analysis/ToolRunMessages.h"

#include "analysis/ToolOutputParsers.h"

#include <cstring>

namespace tool_messages {

std::string resultText(const ToolRunResult& result)
{
    using Outcome = ToolRunResult::Outcome;
    switch (result.outcome) {
    case Outcome::Succeeded:
        return result.toolPath + " finished.";
    case Outcome::ExitStatus:
        return result.toolPath + " ended with exit status " + std::to_string(result.exitStatus) +
               ".";
    case Outcome::Signalled: {
        const char* name = ::strsignal(result.signalNumber);
        return result.toolPath + " was ended by signal " + std::to_string(result.signalNumber) +
               (name ? " (" + std::string(name) + ")" : std::string()) + ".";
    }
    case Outcome::Cancelled:
        return result.toolPath + " was cancelled.";
    case Outcome::StartFailed:
        return "Cannot start " + result.toolPath + ": " + result.startError;
    case Outcome::Stalled:
        return result.toolPath + " stopped responding: no progress for " + std::to_string(result.stalledSeconds)
               + " s.";
    }
    return {};
}

std::string finishedRunMessage(const ToolRunResult& result, const ToolErrorReport& report,
                               bool successMarkerSeen)
{
    const std::string errorText(tool_output::trimmed(report.errorText()));
    if (result.cancelled())
        return {};
    // A hung tool's last lines are old progress: they would only hide why it was ended.
    if (result.startFailed() || result.outcome == ToolRunResult::Outcome::Stalled)
        return resultText(result);
    if (result.succeeded())
        return successMarkerSeen && !report.outputFailed() ? std::string() : errorText;

    std::string message;
    if (!errorText.empty()) {
        message = errorText + "\n";
    } else {
        for (const std::string& line : report.lastLines())
            message += line + "\n";
    }
    return message + resultText(result);
}

}  // namespace tool_messages
