#include "analysis/StageRules.h"

#include "analysis/ToolRunMessages.h"

namespace stage_rules {

RunVerdict judgeRun(const ToolRunResult& result, const ToolErrorReport& report,
                    bool successMarkerSeen)
{
    using Kind = RunVerdict::Kind;
    if (result.cancelled())
        return {Kind::Cancelled, {}};
    std::string message = tool_messages::finishedRunMessage(result, report, successMarkerSeen);
    if (result.startFailed())
        return {Kind::CannotStart, std::move(message)};
    if (result.failed() || !message.empty())
        return {Kind::Failed, std::move(message)};
    return {Kind::Done, {}};
}

StageStep stepAfter(RunVerdict::Kind kind, bool lastFile)
{
    switch (kind) {
    case RunVerdict::Kind::Done:
        return lastFile ? StageStep::NextStage : StageStep::NextFile;
    case RunVerdict::Kind::Failed:
        return lastFile ? StageStep::EndJob : StageStep::NextFile;
    case RunVerdict::Kind::Cancelled:
    case RunVerdict::Kind::CannotStart:
        break;
    }
    return StageStep::EndJob;
}

}  // namespace stage_rules
