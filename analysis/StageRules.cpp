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

bool endsEarly(std::int64_t sourceUs, std::int64_t writtenUs)
{
    if (sourceUs < 0 || writtenUs < 0)
        return false;
    // An MP3's length counts its encoder's delay and padding, which decoding drops: up to
    // 0.21 s at 8 kHz.
    const std::int64_t allowed = 250000 + sourceUs / 100;
    return writtenUs < sourceUs - allowed;
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
