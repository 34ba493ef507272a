// Writing a row once more in the Check stage, after its output missed its promise: the
// correction the check measured, applied by the tools of the row's mode, over the first output.
#include "job/Job.h"

#include "analysis/StageRules.h"
#include "analysis/StallLimit.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolProcess.h"
#include "conversion/ContainerTable.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "job/JobRowRun.h"
#include "job/JobState.h"
#include "tools/ToolContracts.h"

#include <filesystem>
#include <system_error>
#include <utility>

bool Job::redo(int row, double targetLufs, double ceilingDropDb)
{
    if (over_ || stage_ != Stage::Check || row < 0 || row >= rowCount() || runs_.count(row))
        return false;
    const JobRow& record = state_->row(row);
    const auto index = static_cast<std::size_t>(row);
    const bool unchanged = tagsOnly() || (index < settings_.leaveUnchanged.size() && settings_.leaveUnchanged[index]);
    const bool rms = conversion_command::isRmsMode(settings_.mode);
    if (unchanged || record.output.empty() || !record.probed)
        return false;
    std::error_code ec;
    if (rms ? !std::filesystem::exists(conversion_command::wavCopyPath(settings_.scratchFolder, row), ec)
            : settings_.mode != conversion_command::VolumeMode::PeakTrackGain || !record.gain)
        return false;
    redos_.push_back({row, targetLufs, ceilingDropDb});
    startRedos();
    return true;
}

void Job::startRedos()
{
    // The check's measurings share the places; a redo waits only for the job's own runs.
    while (!over_ && !redos_.empty() && static_cast<int>(runs_.size()) < settings_.filesAtOnce) {
        const Redo redo = redos_.front();
        redos_.pop_front();
        const int row = redo.row;
        if (!conversion_command::isRmsMode(settings_.mode)) {
            PeakGain& gain = *state_->row(row).gain;
            gain.db -= redo.ceilingDropDb;
            convertAgain(row);
            continue;
        }
        // The copy holds the row's samples as normalised the first time: normalised again on
        // its own, it reaches the corrected level with the lower ceiling.
        tool_contracts::NormalizerLevels levels;
        levels.target = {"", redo.targetLufs, settings_.ceilingDbtp - redo.ceilingDropDb};
        levels.limitPeaks = settings_.limiter;
        levels.lossyOutput = container_table::isLossyExtension(output_names::outputExtension(
            state_->sources()[row], settings_.formatConverting, settings_.format));
        const std::vector<std::string> arguments = tool_contracts::normalizerSetArgs(
            tool_contracts::NormalizerMode::Singularly, levels,
            {conversion_command::wavCopyPath(settings_.scratchFolder, row)});
        runRedoTool(row, {settings_.normaliser, arguments}, [this, row](RowRun& run, const ToolRunResult& result) {
            const stage_rules::RunVerdict verdict = stage_rules::judgeRun(result, run.report, true);
            if (verdict.kind != stage_rules::RunVerdict::Kind::Done)
                return redoEnded(row, {JobError::Kind::Tool, state_->sources()[row], "normalise again",
                                       verdict.message, state_->sources()[row] + ":\n" + verdict.message});
            convertAgain(row);
        });
    }
}

void Job::runRedoTool(int row, Command command, std::function<void(RowRun&, const ToolRunResult&)> ended)
{
    auto finishRun = [this, row, ended = std::move(ended)](const ToolRunResult& result) {
        if (std::unique_ptr<RowRun> done = takeRun(row))
            ended(*done, result);
    };
    auto& run = runs_[row];
    run = std::make_unique<RowRun>();
    run->process = new ToolProcess(
        command.tool, command.arguments,
        [this, row](std::string_view line) {
            RowRun& current = *runs_.at(row);
            current.report.addLine(line);
            current.markerSeen = current.markerSeen || tool_output::isProgressLine(line);
        },
        finishRun, this);
    ToolProcess* process = run->process;
    process->setStallLimit(stall_limit::limitMs(settings_.stallSeconds, state_->row(row).facts.durationUs));
    emit toolStarted(command.tool, command.arguments);
    if (over_)
        return;
    if (const std::optional<ToolRunResult> failed = process->start())
        finishRun(*failed);
}

void Job::convertAgain(int row)
{
    JobRow& record = state_->row(row);
    conversion_command::ConversionRequest request = conversionRequest(row);
    request.outputFile = record.output;  // the same name: the first output is replaced
    conversion_command::ConversionResult built = conversion_command::buildConversion(request);
    if (!built.command || !built.command->measurement.empty()) {
        const std::string reason = built.command ? "the loudness of its downmix is not known" : built.refusal;
        return redoEnded(row, {JobError::Kind::Refused, state_->sources()[row], "convert again", reason, reason});
    }
    record.command = std::move(built.command);
    runRedoTool(row, {settings_.converter, record.command->args}, [this, row](RowRun& run, const ToolRunResult& result) {
        JobRow& current = state_->row(row);
        stage_rules::RunVerdict verdict = stage_rules::judgeRun(result, run.report, run.markerSeen);
        if (verdict.kind == stage_rules::RunVerdict::Kind::Done)
            if (std::string early = endedEarly(row, current.command->writePath, current.command->note.empty());
                !early.empty())
                verdict = {stage_rules::RunVerdict::Kind::Failed, std::move(early)};
        std::string reason = verdict.message;
        if (verdict.kind == stage_rules::RunVerdict::Kind::Done) {
            // Its own first output is what it replaces.
            const output_files::StepResult committed =
                output_files::commitOutput(*current.command, state_->sourceNames(), true);
            reason = committed.ok ? std::string() : committed.error;
        } else {
            output_files::discardOutput(*current.command);
        }
        current.command.reset();
        const std::string& source = state_->sources()[row];
        redoEnded(row, reason.empty() ? JobError{}
                                      : JobError{JobError::Kind::Output, source, "convert again", reason,
                                                 source + ":\n" + reason});
    });
}

void Job::redoEnded(int row, JobError error)
{
    if (over_)
        return;
    const bool written = error.message.empty();
    emit rowRedone(row, written, error);
    startRedos();
}
