#include "job/JobState.h"

#include <algorithm>

void JobState::begin(std::vector<std::string> sources)
{
    sources_ = std::move(sources);
    sourceNames_ = file_identity::guardedNames(sources_);
    takenNames_ = sourceNames_;
    rows_.assign(sources_.size(), JobRow{});
    plannedOutputs_.clear();
    running_.clear();
    nextRow_ = told_ = finished_ = 0;
    stopped_ = false;
}

void JobState::planOutput(const std::string& output)
{
    plannedOutputs_.push_back(output);
    takenNames_.add(output);
}

void JobState::beginStage(int maxRuns)
{
    maxRuns_ = std::max(1, maxRuns);
    running_.clear();
    nextRow_ = told_ = finished_ = 0;
    stopped_ = false;
    for (JobRow& r : rows_) {
        r.error = {};
        r.endsJob = r.closesStage = false;
        r.command.reset();
        if (r.state == RowState::Failed || r.state == RowState::Refused) {
            r.fraction = 1;
            r.endedBefore = true;
            ++finished_;
        } else {
            r.state = RowState::Waiting;
            r.fraction = 0;
        }
    }
}

std::optional<int> JobState::takeNextRow()
{
    if (stopped_ || runningCount() >= maxRuns_)
        return std::nullopt;
    const std::optional<int> next = firstWaitingRow();
    if (!next)
        return std::nullopt;
    nextRow_ = *next + 1;
    row(*next).state = RowState::Running;
    running_.push_back(*next);
    return next;
}

std::optional<int> JobState::firstWaitingRow() const
{
    for (int index = nextRow_; index < rowCount(); ++index)
        if (row(index).state == RowState::Waiting)
            return index;
    return std::nullopt;
}

std::optional<int> JobState::firstRunningRow() const
{
    if (running_.empty())
        return std::nullopt;
    return *std::min_element(running_.begin(), running_.end());
}

void JobState::setFraction(int index, double fraction)
{
    row(index).fraction = std::clamp(fraction, 0.0, 1.0);
}

void JobState::finishRow(int index, RowState state, JobError error, bool endsJob,
                         bool closesStage)
{
    JobRow& r = row(index);
    if (r.state != RowState::Running)
        return;
    running_.erase(std::remove(running_.begin(), running_.end(), index), running_.end());
    r.state = state;
    r.fraction = 1;
    r.error = std::move(error);
    r.endsJob = endsJob;
    r.closesStage = closesStage;
    stopped_ = stopped_ || endsJob;
    ++finished_;
}

void JobState::withdrawRow(int index)
{
    JobRow& r = row(index);
    if (r.state != RowState::Running)
        return;
    running_.erase(std::remove(running_.begin(), running_.end(), index), running_.end());
    r.state = RowState::Waiting;
    r.fraction = 0;
    nextRow_ = std::min(nextRow_, index);
}

void JobState::passOverEarlierEnds()
{
    while (told_ < rowCount() && row(told_).endedBefore)
        ++told_;
}

std::optional<JobState::Report> JobState::takeReport()
{
    if (!reportDue())
        return std::nullopt;
    JobRow& r = row(told_);
    Report report{told_++, r.state, std::move(r.error), r.endsJob, r.closesStage};
    r.error = {};
    return report;
}

bool JobState::reportDue()
{
    passOverEarlierEnds();
    if (told_ >= rowCount())
        return false;
    const RowState state = row(told_).state;
    return state != RowState::Waiting && state != RowState::Running;
}

bool JobState::stageOver()
{
    passOverEarlierEnds();
    return told_ >= rowCount() && running_.empty();
}

double JobState::listFraction() const
{
    double sum = 0;
    for (int index : running_)
        sum += row(index).fraction;
    return sum + finished_;
}
