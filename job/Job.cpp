// The job's sequence: its start, the stages of each mode, the pool of per-row runs, the order in
// which ends are told, the normaliser's run, cancel and the end.
#include "job/Job.h"

#include "analysis/ClearFolder.h"
#include "analysis/ProgressMath.h"
#include "analysis/ScratchLock.h"
#include "analysis/StageRules.h"
#include "analysis/StallLimit.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolProcess.h"
#include "conversion/ExistingOutputs.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"
#include "job/JobRowRun.h"
#include "job/JobState.h"
#include "job/LoudnessCheck.h"
#include "job/StaleParts.h"

#include "MeasureLine.h"

#include <QTimer>

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace {

// The peak stage is on show this long before its first converter starts.
constexpr int kPeakFirstTickMs = 100;

}  // namespace

Job::Job(JobSettings settings, TFFDecoder& probe, QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      probe_(probe),
      state_(std::make_unique<JobState>()),
      scratchLock_(std::make_unique<ScratchLock>())
{
    settings_.filesAtOnce = std::max(1, settings_.filesAtOnce);
}

Job::~Job()
{
    over_ = true;
    killRuns();
}

int Job::doneCount() const
{
    if (stage_ == Stage::Check)
        return check_ ? check_->checkedCount() : rowCount();
    return stage_ == Stage::Normalisation ? normalised_ : state_->doneCount();
}

int Job::runningCount() const
{
    if (stage_ == Stage::Check)
        return check_ ? check_->measuringCount() : 0;
    return stage_ == Stage::Normalisation ? (normaliser_ ? 1 : 0) : state_->runningCount();
}

int Job::toolRunsGoing() const
{
    return static_cast<int>(runs_.size()) + (normaliser_ ? 1 : 0);
}

void Job::setCheck(LoudnessCheck* check)
{
    check_ = check;
    connect(check, &LoudnessCheck::finished, this, [this](bool cancelled) { checkEnded(cancelled); });
    connect(check, &LoudnessCheck::progress, this, [this](int percent) {
        if (over_ || stage_ != Stage::Check)
            return;
        percent_ = std::max(percent_, percent);
        progress(-1);
    });
    connect(check, &LoudnessCheck::rowVerified, this, [this] {
        if (!over_ && stage_ == Stage::Check)
            progress(-1);
    });
    connect(check, &QObject::destroyed, this, [this] { check_ = nullptr; });
}

std::optional<int> Job::firstRunningRow() const
{
    return state_->firstRunningRow();
}

bool Job::rowRunning(int row) const
{
    return runs_.count(row) > 0;
}

const std::string& Job::rowOutput(int row) const
{
    return state_->row(row).output;
}

std::optional<Measurement> Job::rowSourceLevels(int row) const
{
    const JobRow& record = state_->row(row);
    return record.copyMixedDown ? std::nullopt : record.copyLevels;
}

const ProbeFacts* Job::rowSourceFacts(int row) const
{
    const JobRow& record = state_->row(row);
    return record.probed ? &record.facts : nullptr;
}

JobError Job::startProblem() const
{
    // Everything in the scratch folder is deleted at the end of a job, and in the RMS modes the
    // normaliser changes every WAV file directly in it.
    const std::string& scratch = settings_.scratchFolder;
    if (scratch.empty())
        return {};
    const std::string& output = settings_.outputFolder;
    if (file_identity::isSameOrInside(output, scratch)) {
        const std::string reason = "it is the scratch folder " + scratch
                                   + " or lies inside it, and everything in it is deleted at the end of the job";
        return {JobError::Kind::Folder, output, "write into", reason, "Cannot write into " + output + ": " + reason};
    }
    if (tagsOnly() && settings_.mode != conversion_command::VolumeMode::RmsSingularly
        && settings_.mode != conversion_command::VolumeMode::RmsCollectively) {
        const std::string reason = "loudness tags are written in the RMS track and album modes only";
        return {JobError::Kind::Refused, {}, "write loudness tags", reason, reason};
    }
    if (conversion_command::isRmsMode(settings_.mode) && !tagsOnly())
        for (const std::string& source : settings_.sources)
            if (file_identity::isSameOrInside(source, scratch)) {
                const std::string reason = "it lies in the scratch folder " + scratch
                                           + ", where the job's copies are made and changed";
                return {JobError::Kind::Refused, source, "normalise", reason,
                        "Cannot normalise " + source + ": " + reason};
            }
    return {};
}

void Job::start()
{
    if (started_ || over_)
        return;
    started_ = true;
    if (JobError problem = startProblem())
        return finish(Outcome::Failed, std::move(problem));
    state_->begin(settings_.sources);

    const std::string& scratch = settings_.scratchFolder;
    // Tagged copies need no WAV copy: the list was measured before the job.
    if (conversion_command::isRmsMode(settings_.mode) && !tagsOnly()) {
        if (scratch.empty())
            return finish(Outcome::Failed, {JobError::Kind::Folder, scratch, "create the scratch folder", {},
                                            "Create the tmp folder error!"});
        if (!scratchLock_->acquire(scratch))
            return finish(Outcome::Failed, {JobError::Kind::Folder, scratch, "hold the scratch folder",
                                            scratchLock_->error(), scratchLock_->error()});
        // Copies left by an earlier job that did not finish would be normalised with this
        // job's and skew the album and average modes.
        folder_cleanup::clear_folder(scratch, {}, state_->sourceNames().ids);
    }
    stale_parts::removeFrom(settings_.outputFolder);

    if (tagsOnly())
        return beginStage(Stage::Conversion);
    switch (settings_.mode) {
    case conversion_command::VolumeMode::ChangePercent:
    case conversion_command::VolumeMode::ChangeGain:
        return beginStage(Stage::Conversion);
    case conversion_command::VolumeMode::PeakTrackGain:
        return beginStage(Stage::PeakMeasurement);
    default:
        return beginStage(Stage::WavExtraction);
    }
}

void Job::cancel()
{
    finish(Outcome::Cancelled);
}

void Job::beginStage(Stage stage)
{
    stage_ = stage;
    shown_ = stageEndTold_ = false;
    percent_ = normalised_ = 0;
    status_.clear();
    shownPercent_ = shownDone_ = -1;
    shownStatus_.clear();
    if (stage == Stage::Normalisation) {
        const std::vector<std::vector<std::string>> runs = normaliserRuns();
        normaliserQueue_.assign(runs.begin(), runs.end());
        return runNormaliser();
    }

    state_->beginStage(settings_.filesAtOnce);
    if (stage == Stage::Conversion)
        existingNames_ = existing_outputs::namesIn(output_names::folderText(settings_.outputFolder));
    if (!state_->firstWaitingRow())
        return finish(Outcome::Failed);  // every row failed an earlier stage
    if (stage == Stage::PeakMeasurement) {
        // It cannot fail before its first run, so it is on show at once.
        showStage();
        holding_ = true;
        QTimer::singleShot(kPeakFirstTickMs, this, [this] {
            holding_ = false;
            advance();
        });
        return;
    }
    advance();
}

void Job::showStage()
{
    if (shown_ || over_)
        return;
    shown_ = true;
    stageEndTold_ = false;
    emit stageStarted(stage_);
}

void Job::endStage()
{
    if (!shown_ || stageEndTold_)
        return;
    stageEndTold_ = true;
    emit stageEnded(stage_);
}

void Job::nextStage()
{
    switch (stage_) {
    case Stage::PeakMeasurement:
    case Stage::Normalisation:
        return beginStage(Stage::Conversion);
    case Stage::WavExtraction:
        return beginStage(Stage::Normalisation);
    case Stage::Conversion:
        return finish(Outcome::Completed);
    case Stage::Check:
        break;  // the check's end ends the job, as its rows ended it
    }
}

void Job::finish(Outcome outcome, JobError error)
{
    if (over_)
        return;
    if (outcome != Outcome::Cancelled && check_ && !check_->isOver() && stage_ != Stage::Check)
        return beginCheck(outcome, std::move(error));
    over_ = true;
    holding_ = false;
    // A row whose end ended the job leaves no later run behind it.
    killRuns();
    endStage();
    if (check_ && !check_->isOver())
        check_->cancel();
    emit finished(outcome, error);
    // Once the end has been shown: the copies stay until then.
    // A job refused at its start has no rows: it never touched the scratch folder.
    if (outcome == Outcome::Completed || (settings_.clearScratchAtEveryEnd && state_->rowCount() > 0))
        clearScratchFolder();
    scratchLock_->release();
}

void Job::beginCheck(Outcome outcome, JobError error)
{
    killRuns();
    endStage();
    checkedOutcome_ = outcome;
    checkedError_ = std::move(error);
    stage_ = Stage::Check;
    shown_ = stageEndTold_ = false;
    percent_ = check_->percentDone();
    status_ = "Checking outputs......";
    shownPercent_ = shownDone_ = -1;
    shownStatus_.clear();
    // Nothing left to measure: nothing to wait for on show.
    if (written_ > 0 && check_->pendingCount() > 0)
        showStage();
    if (over_)
        return;
    progress(-1);
    check_->jobRowsOver();
    if (!over_ && check_ && check_->isOver())
        checkEnded(false);
}

void Job::checkEnded(bool cancelled)
{
    if (over_ || stage_ != Stage::Check)
        return;
    if (cancelled)
        return finish(Outcome::Cancelled);
    percent_ = 100;
    progress(-1);
    if (over_)
        return;
    finish(checkedOutcome_, std::move(checkedError_));
}

void Job::clearScratchFolder()
{
    // Another instance's RMS job may be using the scratch folder: then its copies stay.
    const std::string& scratch = settings_.scratchFolder;
    if (scratch.empty() || !scratchLock_->acquire(scratch))
        return;
    std::vector<std::string> kept = state_->sources();
    kept.insert(kept.end(), state_->plannedOutputs().begin(), state_->plannedOutputs().end());
    folder_cleanup::clear_folder(scratch, {}, file_identity::existingIds(kept));
}

void Job::advance()
{
    if (over_)
        return;
    if (!oneAtOnce())
        startRows();  // the pool stays full, also while an end is being told
    if (advancing_) {
        again_ = true;
        return;
    }
    advancing_ = true;
    do {
        again_ = false;
        tellEnds();
        startRows();
        if (!over_ && perRowStage() && !holding_ && state_->stageOver()) {
            endStage();
            nextStage();
        }
    } while (again_ && !over_);
    advancing_ = false;
}

void Job::startRows()
{
    if (starting_ || over_ || holding_ || !perRowStage())
        return;
    starting_ = true;
    while (!over_) {
        // One at a time, a row is prepared only once every end before it has been told.
        if (oneAtOnce() && (telling_ || state_->runningCount() > 0 || state_->reportDue()))
            break;
        const std::optional<int> row = state_->takeNextRow();
        if (!row)
            break;
        if (std::optional<Command> command = prepare(*row))
            launch(*row, std::move(*command));
        else
            again_ = true;  // the row has ended: its end is to be told
    }
    starting_ = false;
}

void Job::launch(int row, Command command, bool firstRun)
{
    showStage();
    auto& run = runs_[row];
    run = std::make_unique<RowRun>();
    run->process = new ToolProcess(
        command.tool, command.arguments,
        [this, row](std::string_view line) { handleLine(row, *runs_.at(row), line); },
        [this, row](const ToolRunResult& result) { runEnded(row, result); }, this);
    ToolProcess* process = run->process;
    process->setStallLimit(stall_limit::limitMs(settings_.stallSeconds, state_->row(row).facts.durationUs));
    emit toolStarted(command.tool, command.arguments);
    if (firstRun && !over_)
        emit rowStarted(row);
    if (over_)
        return;
    if (const std::optional<ToolRunResult> failed = process->start())
        runEnded(row, *failed);
}

std::unique_ptr<Job::RowRun> Job::takeRun(int row)
{
    const auto found = runs_.find(row);
    if (found == runs_.end())
        return nullptr;
    std::unique_ptr<RowRun> run = std::move(found->second);
    runs_.erase(found);
    run->process->deleteLater();  // it may be telling its end right now
    return run;
}

void Job::runEnded(int row, const ToolRunResult& result)
{
    std::unique_ptr<RowRun> run = takeRun(row);
    if (!run)
        return;
    const stage_rules::RunVerdict verdict = judge(row, *run, result);
    using Kind = stage_rules::RunVerdict::Kind;
    // A peak that could not be measured is told, and the row converted without a level change
    // (unless its source cannot even be opened); only the last row's failure ends the job
    // before its conversion.
    if (stage_ == Stage::PeakMeasurement && verdict.kind == Kind::Failed && row < rowCount() - 1
        && state_->row(row).probed) {
        state_->row(row).peakUnmeasured = true;
        state_->finishRow(row, RowState::Done, std::move(run->error));
        return advance();
    }
    if (verdict.kind == Kind::Done) {
        if (std::optional<Command> next = nextRun(row))
            return launch(row, std::move(*next), false);
        if (state_->row(row).state != RowState::Running)
            return advance();  // its next run could not be prepared: the row has ended
    }

    const bool endsJob = stage_rules::stepAfter(verdict.kind, row >= rowCount() - 1)
                         == stage_rules::StageStep::EndJob;
    state_->finishRow(row, verdict.kind == Kind::Done ? RowState::Done : RowState::Failed,
                      std::move(run->error), endsJob, endsJob);
    if (verdict.kind == Kind::CannotStart) {
        // One at a time no later row would have started: those that did are taken back.
        for (auto later = runs_.upper_bound(row); later != runs_.end();) {
            later->second->process->cancel();
            later->second->process->deleteLater();
            discard(later->first);
            state_->withdrawRow(later->first);
            later = runs_.erase(later);
        }
    }
    advance();
}

void Job::killRuns()
{
    for (auto& [row, run] : runs_) {
        run->process->cancel();
        run->process->deleteLater();
        discard(row);
        state_->withdrawRow(row);
    }
    runs_.clear();
    if (normaliser_) {
        normaliser_->process->cancel();
        normaliser_->process->deleteLater();
        normaliser_.reset();
    }
}

void Job::tellEnds()
{
    if (telling_ || over_)
        return;
    telling_ = true;
    while (!over_) {
        const std::optional<JobState::Report> report = state_->takeReport();
        if (!report)
            break;
        if (report->closesStage)
            endStage();
        if (!over_)
            tell(report->row, report->state, report->error);
        if (!over_ && report->endsJob)
            finish(Outcome::Failed);
    }
    telling_ = false;
}

void Job::tell(int row, RowState state, const JobError& error)
{
    if (stage_ == Stage::PeakMeasurement) {
        emit rowMeasured(row, state_->row(row).gain, state == RowState::Done ? error : JobError{});
        if (over_)
            return;
    }
    if (state == RowState::Done) {
        if (stage_ == Stage::Conversion) {
            ++written_;
            emit rowEnded(row, RowEnd::Written, error, state_->row(row).note);
        }
        return;
    }
    const RowEnd end = state == RowState::Refused ? RowEnd::Refused
                       : state == RowState::Skipped ? RowEnd::Skipped
                                                    : RowEnd::Failed;
    emit rowEnded(row, end, error, {});
}

void Job::progress(int row)
{
    const int done = doneCount();
    if (percent_ == shownPercent_ && status_ == shownStatus_ && done == shownDone_)
        return;
    shownPercent_ = percent_;
    shownStatus_ = status_;
    shownDone_ = done;
    emit rowProgress(row, percent_, status_);
}

void Job::runNormaliser()
{
    showStage();
    if (over_)
        return;
    if (normaliserQueue_.empty()) {  // no folder has a copy left: the conversion tells the rows
        endStage();
        return over_ ? void() : nextStage();
    }
    const std::vector<std::string> arguments = std::move(normaliserQueue_.front());
    normaliserQueue_.pop_front();
    normaliser_ = std::make_unique<RowRun>();
    ToolProcess* process = new ToolProcess(
        settings_.normaliser, arguments,
        [this](std::string_view line) {
            normaliser_->report.addLine(line);
            keepCopyLevels(line);
            // The normaliser reports each file as it finishes it.
            if (tool_output::isNormalizerMarkerLine(line)) {
                percent_ = progress_math::steppedPosition(percent_, 100, rowCount());
                ++normalised_;
            }
            status_ = "Analyze data......";
            progress(-1);
        },
        [this](const ToolRunResult& result) { normaliserEnded(result); }, this);
    normaliser_->process = process;
    // It reports each copy as it is done with it; in the set modes only after measuring them all.
    std::int64_t totalUs = 0;
    for (int row = 0; row < rowCount(); ++row)
        totalUs += std::max<std::int64_t>(0, state_->row(row).facts.durationUs);
    process->setStallLimit(stall_limit::limitMs(settings_.stallSeconds, totalUs));
    emit toolStarted(settings_.normaliser, arguments);
    if (over_)
        return;
    if (const std::optional<ToolRunResult> failed = process->start())
        normaliserEnded(*failed);
}

void Job::keepCopyLevels(std::string_view line)
{
    std::optional<measure_line::FileMeasurement> levels = measure_line::parseFile(line);
    if (!levels)
        return;
    // The copies are named by their rows.
    const std::string name = std::filesystem::path(levels->file).filename().string();
    int row = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), row);
    if (error != std::errc() || std::string_view(end) != ".wav" || row < 0 || row >= rowCount()
        || std::filesystem::path(state_->row(row).output).filename() != name)
        return;
    state_->row(row).copyLevels = std::move(levels->measurement);
}

void Job::normaliserEnded(const ToolRunResult& result)
{
    if (!normaliser_)
        return;
    std::unique_ptr<RowRun> run = std::move(normaliser_);
    run->process->deleteLater();
    // The normaliser has no success marker: only how it ended tells whether every copy was
    // adjusted, and unadjusted copies must not become outputs.
    const stage_rules::RunVerdict verdict = stage_rules::judgeRun(result, run->report, true);
    const bool done = verdict.kind == stage_rules::RunVerdict::Kind::Done;
    if (done && !normaliserQueue_.empty())
        return runNormaliser();
    endStage();
    if (over_)
        return;
    if (done)
        return nextStage();
    finish(Outcome::Failed, {JobError::Kind::Tool, settings_.scratchFolder, "normalise", verdict.message,
                             verdict.message});
}
