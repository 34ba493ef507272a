#include "job/LoudnessCheck.h"

#include "analysis/MeasureWorker.h"
#include "analysis/StallLimit.h"
#include "base/SetGroups.h"
#include "conversion/ContainerTable.h"
#include "conversion/OutputNames.h"
#include "conversion/ProbeFacts.h"
#include "job/KnownSourceLevels.h"
#include "job/SourceProbe.h"
#include "report/Verification.h"

#include <QString>

#include <algorithm>
#include <map>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <utility>

namespace {

loudness_plan::Settings planSettings(const JobSettings& job)
{
    loudness_plan::Settings settings;
    settings.mode = job.mode;
    settings.percent = job.percent;
    double gain = 0;
    std::from_chars(job.gain.data(), job.gain.data() + job.gain.size(), gain);
    settings.gainDb = gain;
    settings.targetLufs = job.targetLufs;
    settings.ceilingDbtp = job.ceilingDbtp;
    settings.limiter = job.limiter;
    // Tags carry the gain to their own reference, which the plan then shows.
    if (job.writing == JobSettings::Writing::TagsOnly) {
        settings.targetLufs = loudness_tags::kReplayGainReferenceLufs;
        settings.limiter = true;
    }
    for (const std::string& source : job.sources)
        settings.lossyOutput = settings.lossyOutput
                               || container_table::isLossyExtension(
                                   output_names::outputExtension(source, job.formatConverting, job.format));
    return settings;
}

// The probe of a file, or why it cannot be opened.
std::optional<ProbeFacts> probed(TFFDecoder& probe, const std::string& path, std::string& why)
{
    ProbeFacts facts;
    if (!source_probe::probe(probe, path, facts, why))
        return std::nullopt;
    return facts;
}

}  // namespace

LoudnessCheck::LoudnessCheck(JobSettings settings, TFFDecoder& probe, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), probe_(probe)
{
    report_.settings = planSettings(settings_);
    const std::size_t rows = settings_.sources.size();
    report_.rows.resize(rows);
    for (std::size_t row = 0; row < rows; ++row) {
        report_.rows[row].file = settings_.sources[row];
        lossy_.push_back(container_table::isLossyExtension(
            output_names::outputExtension(settings_.sources[row], settings_.formatConverting, settings_.format)));
    }
    headroom_.assign(rows, 0.0);
    sourceAsked_.assign(rows, false);
}

LoudnessCheck::~LoudnessCheck()
{
    for (MeasureWorker* worker : workers_)
        delete worker;  // kills and waits for its process
}

void LoudnessCheck::analyse()
{
    over_ = false;
    asked_ = done_ = 0;
    shownPercent_ = -1;
    for (int row = 0; row < static_cast<int>(report_.rows.size()); ++row)
        if (!sourceAsked_[static_cast<std::size_t>(row)] && !takeSourceLevels(row))
            enqueue(row, false);
    startMore();
    maybeFinish();
}

void LoudnessCheck::follow(Job& job)
{
    over_ = false;
    following_ = true;
    jobOver_ = false;
    job_ = &job;
    outputs_.assign(report_.rows.size(), std::string());
    checkedRows_.assign(report_.rows.size(), false);
    checked_ = 0;
    noteExisting();
    job.setCheck(this);
    connect(&job, &Job::rowEnded, this,
            [this, &job](int row, Job::RowEnd end, const JobError& error, const std::string&) {
                if (end == Job::RowEnd::Written)
                    outputs_.at(static_cast<std::size_t>(row)) = job.rowOutput(row);
                jobRowEnded(row, end, error);
            });
    connect(&job, &Job::rowRedone, this, &LoudnessCheck::redone);
    connect(&job, &Job::finished, this, [this](Job::Outcome outcome) {
        job_ = nullptr;  // it may go before the check
        if (outcome == Job::Outcome::Cancelled)
            return cancel();
        jobRowsOver();
    });
}

void LoudnessCheck::noteExisting()
{
    for (LoudnessReport::Row& row : report_.rows)
        row.existingFile.clear(), row.existing.clear();
    for (const existing_outputs::Clash& clash : Job::clashes(settings_)) {
        LoudnessReport::Row& row = report_.rows.at(static_cast<std::size_t>(clash.row));
        row.existingFile = clash.output;
        row.existing = existing_outputs::wordOf(settings_.existing);
    }
}

void LoudnessCheck::jobRowsOver()
{
    if (jobOver_)
        return;
    jobOver_ = true;
    startMore();
    maybeFinish();
}

void LoudnessCheck::cancel()
{
    if (over_)
        return;
    closeWorkers();
    queue_.clear();
    over_ = true;
    redoWaiting_.clear();
    redoing_ = 0;
    for (std::size_t row = 0; following_ && row < outputs_.size(); ++row)
        if (report_.rows[row].firstVerdict && !report_.rows[row].verdict)
            keepFirst(static_cast<int>(row), "the check was cancelled");
    for (std::size_t row = 0; following_ && row < outputs_.size(); ++row)
        if (!outputs_[row].empty() && !report_.rows[row].verdict && report_.rows[row].error.empty()) {
            report_.rows[row].error = "not checked: the check was cancelled";
            tellVerified(static_cast<int>(row));
        }
    emit finished(true);
}

void LoudnessCheck::tellVerified(int row)
{
    markChecked(row);
    emit rowVerified(row);
}

void LoudnessCheck::markChecked(int row)
{
    const std::size_t at = static_cast<std::size_t>(row);
    if (at < checkedRows_.size() && !checkedRows_[at]) {
        checkedRows_[at] = true;
        ++checked_;
    }
}

void LoudnessCheck::jobRowEnded(int row, Job::RowEnd end, const JobError& error)
{
    LoudnessReport::Row& record = report_.rows.at(static_cast<std::size_t>(row));
    record.after.reset();
    record.verdict.reset();
    if (end != Job::RowEnd::Written) {
        record.error = error.message.empty() ? std::string("not written") : error.message;
        tellVerified(row);
        return;
    }
    // A tagged copy holds its source's audio packet for packet: its level is the source's.
    if (settings_.writing == JobSettings::Writing::TagsOnly && planned_) {
        record.after = record.before;
        record.verdict = verification::Verdict{};
        record.tagsWritten = loudness_tags::summary(tagsOf(row).tags);
        tellVerified(row);
        return;
    }
    if (!sourceAsked_[static_cast<std::size_t>(row)] && !takeSourceLevels(row))
        enqueue(row, false);
    enqueue(row, true);
    startMore();
}

bool LoudnessCheck::takeSourceLevels(int row)
{
    // The normaliser measured the source as its WAV copy holds it, with the meters of the
    // measuring mode: the very samples and figures that measuring the source again gives
    // (the copy is the source's first audio stream decoded as --measure gets it). They only
    // make the promise, by the program's own rules; the output is still measured on its own,
    // so a normaliser that writes a wrong level misses a promise made from the source's level,
    // or the mode's target where the promise is the target whatever it claims.
    // Figures measured before of the very same file are the same too.
    std::optional<Measurement> levels = job_ ? job_->rowSourceLevels(row) : std::nullopt;
    if (!levels && known_)
        levels = known_->find(settings_.sources[static_cast<std::size_t>(row)]);
    if (!levels)
        return false;
    const std::size_t at = static_cast<std::size_t>(row);
    std::string why;
    const std::optional<ProbeFacts> facts = sourceFacts(row, why);
    if (!facts)
        return false;
    headroom_[at] = loudness_plan::copyHeadroom(*facts);
    sourceAsked_[at] = true;
    report_.rows[at].before = levels;
    ++asked_;
    ++done_;
    emit rowMeasured(row);
    tellProgress();
    return true;
}

std::optional<ProbeFacts> LoudnessCheck::sourceFacts(int row, std::string& why)
{
    // The job has opened its sources already: no second probe of the same file.
    if (const ProbeFacts* facts = job_ ? job_->rowSourceFacts(row) : nullptr)
        return *facts;
    return probed(probe_, settings_.sources[static_cast<std::size_t>(row)], why);
}

void LoudnessCheck::enqueue(int row, bool output)
{
    if (!output)
        sourceAsked_[static_cast<std::size_t>(row)] = true;
    queue_.push_back({row, output});
    ++asked_;
}

void LoudnessCheck::startMore()
{
    // Beside a job, as many measurings as its "files at once", at low priority: an output is
    // measured as soon as its row ends, in the time the job's runs leave, rather than after
    // the last of them.
    const std::size_t limit = static_cast<std::size_t>(std::max(1, settings_.filesAtOnce));
    while (!over_ && running_.size() < limit && !queue_.empty()) {
        const Task task = queue_.front();
        queue_.pop_front();
        const std::size_t row = static_cast<std::size_t>(task.row);
        const std::string path = task.output ? outputs_[row] : settings_.sources[row];
        std::string why;
        std::optional<tool_contracts::MeasureInput> input;
        std::int64_t durationUs = -1;
        if (const std::optional<ProbeFacts> facts = task.output ? probed(probe_, path, why) : sourceFacts(task.row, why)) {
            durationUs = facts->durationUs;
            if (!task.output)
                headroom_[row] = loudness_plan::copyHeadroom(*facts);
            input = task.output ? MeasureWorker::outputInput(path, *facts, why)
                                : MeasureWorker::sourceInput(path, *facts, why);
        }
        if (!input) {
            measured(nullptr, task, MeasureResult{path, std::nullopt, why});
            continue;
        }
        MeasureWorker* worker = idleWorker();
        running_.emplace(worker, task);
        emit measuringStarted(*input);
        worker->measure(*input, stall_limit::limitMs(settings_.stallSeconds, durationUs));
    }
}

MeasureWorker* LoudnessCheck::idleWorker()
{
    for (MeasureWorker* worker : workers_)
        if (!running_.count(worker))
            return worker;
    // The pool grows to the most places the check has had; its workers stay until it ends.
    auto* worker = workers_.emplace_back(new MeasureWorker(
        settings_.meter, this, following_ ? tool_launch::Priority::Low : tool_launch::Priority::Normal));
    connect(worker, &MeasureWorker::finished, this, [this, worker](const MeasureResult& result) {
        const auto found = running_.find(worker);
        if (found != running_.end())
            measured(worker, found->second, result);
    });
    return worker;
}

void LoudnessCheck::closeWorkers()
{
    // Their processes end now; the objects later, as one may be telling its result right now.
    for (MeasureWorker* worker : workers_) {
        worker->cancel();
        worker->deleteLater();
    }
    workers_.clear();
    running_.clear();
}

void LoudnessCheck::measured(MeasureWorker* worker, Task task, const MeasureResult& result)
{
    if (worker)
        running_.erase(worker);
    ++done_;
    LoudnessReport::Row& record = report_.rows.at(static_cast<std::size_t>(task.row));
    if (!result.measurement)
        record.error = result.message();
    if (task.output) {
        markChecked(task.row);
        record.after = result.measurement;
        if (planned_)
            verify(task.row);
    } else {
        record.before = result.measurement;
        emit rowMeasured(task.row);
    }
    tellProgress();
    startMore();
    maybeFinish();
}

void LoudnessCheck::tellProgress()
{
    const int percent = percentDone();
    if (percent == shownPercent_)
        return;
    shownPercent_ = percent;
    emit progress(percent);
}

void LoudnessCheck::makePlan()
{
    std::vector<loudness_plan::File> files;
    std::vector<std::string> groups;
    for (std::size_t row = 0; row < report_.rows.size(); ++row) {
        files.push_back({report_.rows[row].before, headroom_[row], std::nullopt});
        if (settings_.groupByFolder)
            groups.emplace_back(set_groups::groupOf(settings_.sources[row], true));
    }
    loudness_plan::Plan plan = loudness_plan::make(report_.settings, files, groups);
    // Tags change no sample: players apply the gain, so nothing is limited.
    const bool tagsOnly = settings_.writing == JobSettings::Writing::TagsOnly;
    for (std::size_t row = 0; row < report_.rows.size(); ++row) {
        report_.rows[row].plan = plan.rows[row];
        if (tagsOnly) {
            report_.rows[row].plan.limited = report_.rows[row].plan.peakLimited = false;
            report_.rows[row].plan.limitedByDb = 0;
        }
    }
    report_.sets = std::move(plan.sets);
    planTagLevels();
    planned_ = true;
    emit planMade();
}

std::vector<bool> LoudnessCheck::leaveUnchanged(double skipWithinDb)
{
    std::vector<bool> rows(report_.rows.size(), false);
    for (std::size_t row = 0; row < rows.size() && planned_; ++row) {
        const std::string& source = settings_.sources[row];
        const std::string kept = output_names::outputExtension(source, settings_.formatConverting, settings_.format);
        const std::string own = std::filesystem::path(source).extension().string();
        const bool sameContainer = QString::fromStdString(kept).compare(QString::fromStdString(own),
                                                                        Qt::CaseInsensitive) == 0;
        // Its peaks must already be under the ceiling that the mode would hold them to.
        const std::optional<Measurement>& before = report_.rows[row].before;
        const bool underCeiling = !conversion_command::isRmsMode(settings_.mode)
                                  || (before && before->truePeakDbtp <= settings_.ceilingDbtp);
        rows[row] = report_.rows[row].leftUnchanged =
            sameContainer && underCeiling
            && verification::leaveUnchanged(report_.rows[row].plan, skipWithinDb, settings_.formatConverting);
    }
    return rows;
}

void LoudnessCheck::planTagLevels()
{
    std::vector<std::optional<loudness_tags::Levels>>& levels = tagLevels_;
    levels.assign(report_.rows.size(), std::nullopt);
    const bool album = settings_.mode == conversion_command::VolumeMode::RmsCollectively;
    // Each album (the list, or a folder) by its group: its loudness and its highest true peak.
    std::map<std::string, std::pair<double, double>, std::less<>> albums;
    for (const loudness_plan::Set& set : report_.sets)
        albums[set.group] = {set.loudnessLufs, -HUGE_VAL};
    auto groupOf = [&](std::size_t row) { return set_groups::groupOf(settings_.sources[row], settings_.groupByFolder); };
    for (std::size_t row = 0; row < levels.size(); ++row)
        if (const auto found = albums.find(groupOf(row)); found != albums.end() && report_.rows[row].before)
            found->second.second = std::max(found->second.second, report_.rows[row].before->truePeakDbtp);
    for (std::size_t row = 0; row < levels.size(); ++row) {
        const std::optional<Measurement>& before = report_.rows[row].before;
        if (!before || !std::isfinite(before->integratedLufs) || !std::isfinite(before->truePeakDbtp))
            continue;
        levels[row] = loudness_tags::Levels{before->integratedLufs, before->truePeakDbtp, std::nullopt, std::nullopt};
        if (const auto found = albums.find(groupOf(row)); album && found != albums.end()) {
            levels[row]->albumLufs = found->second.first;
            levels[row]->albumPeakDbtp = found->second.second;
        }
    }
}

loudness_tags::Tags LoudnessCheck::tagsOf(int row) const
{
    const std::optional<loudness_tags::Levels>& own = tagLevels_.at(static_cast<std::size_t>(row));
    if (!own)
        return {};
    return loudness_tags::forContainer(
        std::filesystem::path(settings_.sources[static_cast<std::size_t>(row)]).extension().string(), *own);
}

void LoudnessCheck::verify(int row)
{
    LoudnessReport::Row& record = report_.rows.at(static_cast<std::size_t>(row));
    if (!record.after)
        return;
    if (!record.before) {
        if (record.error.empty())
            record.error = "its source could not be measured";
    } else {
        // A row left unchanged promises its source's own level.
        loudness_plan::Row promise = record.plan;
        if (record.leftUnchanged) {
            promise.gainDb = 0;
            promise.loudnessAfterLufs = std::isfinite(record.before->integratedLufs)
                                            ? std::optional<double>(record.before->integratedLufs)
                                            : std::nullopt;
        }
        record.verdict = verification::check(report_.settings, promise, *record.before, *record.after,
                                             lossy_[static_cast<std::size_t>(row)]);
        const std::optional<verification::Correction> mend =
            mayRedo(row) ? verification::correction(report_.settings, promise, *record.after, *record.verdict)
                         : std::nullopt;
        if (mend) {
            // Told once judged again.
            record.attempts = 2;
            record.firstAfter = std::exchange(record.after, std::nullopt);
            record.firstVerdict = std::exchange(record.verdict, std::nullopt);
            // The peak mode has no level to aim at: its gain goes down by the drop.
            redoWaiting_.emplace_back(row, promise.loudnessAfterLufs.value_or(0) + mend->gainDb,
                                      mend->ceilingDropDb);
            return startRedos();
        }
    }
    tellVerified(row);
}

bool LoudnessCheck::mayRedo(int row) const
{
    const LoudnessReport::Row& record = report_.rows.at(static_cast<std::size_t>(row));
    const conversion_command::VolumeMode mode = settings_.mode;
    const bool levelMode = conversion_command::isRmsMode(mode) ? record.plan.loudnessAfterLufs.has_value()
                                                               : mode == conversion_command::VolumeMode::PeakTrackGain;
    return following_ && job_ && levelMode && record.attempts == 1 && !record.leftUnchanged
           && settings_.writing == JobSettings::Writing::AdjustedAudio;
}

void LoudnessCheck::startRedos()
{
    // The job writes again only in its Check stage, after its last row.
    if (over_ || !jobOver_ || holdRedos_ || redoWaiting_.empty())
        return;
    const auto waiting = std::exchange(redoWaiting_, {});
    redoing_ += static_cast<int>(waiting.size());
    for (const auto& [row, targetLufs, ceilingDropDb] : waiting) {
        if (over_)
            return;
        if (!job_ || !job_->redo(row, targetLufs, ceilingDropDb)) {
            --redoing_;
            keepFirst(row, {});
        }
    }
    maybeFinish();
}

void LoudnessCheck::redone(int row, bool written, const JobError& error)
{
    if (over_)
        return;
    --redoing_;
    if (written) {
        enqueue(row, true);
        startMore();
    } else {
        keepFirst(row, error.reason.empty() ? error.message : error.reason);
    }
    maybeFinish();
}

void LoudnessCheck::keepFirst(int row, const std::string& why)
{
    LoudnessReport::Row& record = report_.rows.at(static_cast<std::size_t>(row));
    record.attempts = 1;
    record.after = std::exchange(record.firstAfter, std::nullopt);
    record.verdict = std::exchange(record.firstVerdict, std::nullopt);
    record.redoError = why;
    tellVerified(row);
}

void LoudnessCheck::maybeFinish()
{
    if (over_ || !queue_.empty() || !running_.empty() || (following_ && !jobOver_))
        return;
    const bool unplanned = !planned_;
    if (unplanned)
        makePlan();
    if (following_ && unplanned) {
        holdRedos_ = true;  // asked for together once every row is judged
        for (int row = 0; row < static_cast<int>(report_.rows.size()); ++row)
            verify(row);
        holdRedos_ = false;
    }
    startRedos();
    // Rows that missed are written again, measured and judged before the end.
    if (over_ || redoing_ > 0 || !redoWaiting_.empty() || !queue_.empty() || !running_.empty())
        return;
    closeWorkers();
    over_ = true;
    emit finished(false);
}
