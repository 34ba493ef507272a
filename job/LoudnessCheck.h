#pragma once

#include "job/Job.h"
#include "job/JobSettings.h"
#include "report/LoudnessReport.h"
#include "tools/ToolContracts.h"

#include <QObject>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

class KnownSourceLevels;
class MeasureWorker;
struct MeasureResult;
class TFFDecoder;

// The loudness report of a job's list, kept up to date by measuring: before a job, every
// source (analyse(): the plan of the job's mode and settings); during one, every output as
// its row is written (follow()), each then judged against its row's promise; in the RMS and
// peak modes a row that missed is written once more with the correction measured, then judged
// again (never a third time). Measurings run out of the program's process, in a pool of
// measuring workers kept until the check ends, up to the job's "files at once" at a time (beside
// a job, at low priority, in the time its runs leave), so a file that crashes the decoder only
// gives its own row an error. Like the job, everything happens on the thread it lives on, from
// its event loop.
class LoudnessCheck : public QObject {
    Q_OBJECT
public:
    // `probe` opens each source and output before its measuring, one at a time.
    LoudnessCheck(JobSettings settings, TFFDecoder& probe, QObject* parent = nullptr);
    // Measurings still going are killed; nothing is told.
    ~LoudnessCheck() override;

    // Measures every source and plans; finished() when all are in (or at once for an empty
    // list). Signals may come before this returns.
    void analyse();
    // Measures each output `job` writes, as its row ends, and judges it; a source not measured
    // yet is measured beside it, and the plan made once all are in. The job waits for the check
    // after its last row (its Check stage): finished() comes before the job's own finished(),
    // and cancelling either cancels both. Call before job.start().
    void follow(Job& job);
    // Sources already measured are taken from `known` rather than measured again. Before
    // analyse() or follow().
    void takeKnown(const KnownSourceLevels* known) { known_ = known; }
    // Names in the report the files already under outputs' names, with the settings' choice.
    // follow() does it; a plan made before a job asks for it.
    void noteExisting();
    // The followed job's rows are over: what is left is measured, then finished().
    void jobRowsOver();
    // Stops every measuring at once: finished(true). A followed job's outputs not judged yet
    // say so in the report. Nothing once over.
    void cancel();

    // Once planned: which rows a job may leave unchanged (see verification::leaveUnchanged; the
    // output must also keep its source's container), marked so in the report. For
    // JobSettings::leaveUnchanged.
    std::vector<bool> leaveUnchanged(double skipWithinDb);
    // Once planned: each row's levels for its loudness tags (its own, and in the album mode the
    // set's gated loudness and highest true peak), none for a row without a loudness. For
    // JobSettings::loudnessTags; a followed tags-only job's rows are reported with the tags
    // written, their outputs not measured again.
    const std::vector<std::optional<loudness_tags::Levels>>& tagLevels() const { return tagLevels_; }

    const LoudnessReport& report() const { return report_; }
    const JobSettings& settings() const { return settings_; }
    bool planned() const { return planned_; }
    bool isOver() const { return over_; }
    // Rows whose source or output is being or waits to be measured, or is written again.
    int pendingCount() const
    {
        return static_cast<int>(queue_.size() + running_.size() + redoWaiting_.size()) + redoing_;
    }
    // Of a followed job: rows whose output has been measured (or has none to measure);
    // measurings at work.
    int checkedCount() const { return checked_; }
    int measuringCount() const { return static_cast<int>(running_.size()); }
    // Measured files over those asked for so far, 0..100, as progress() told it last.
    int percentDone() const { return asked_ > 0 ? done_ * 100 / asked_ : 100; }

signals:
    // Measured files over those asked for so far, 0..100 (never back within one analyse()).
    void progress(int percent);
    // A source's measurement, or why there is none, is in the report.
    void rowMeasured(int row);
    // The plan of every row is in the report.
    void planMade();
    // A row's output measurement and verdict (or why there is none) are in the report.
    void rowVerified(int row);
    // A file is about to be measured, by this request to a measuring worker.
    void measuringStarted(const tool_contracts::MeasureInput& request);
    void finished(bool cancelled);

private:
    struct Task {
        int row = 0;
        bool output = false;
    };

    void enqueue(int row, bool output);
    void startMore();
    void measured(MeasureWorker* worker, Task task, const MeasureResult& result);
    MeasureWorker* idleWorker();
    void closeWorkers();
    void jobRowEnded(int row, Job::RowEnd end, const JobError& error);
    // Takes the figures the followed job's normaliser found for a row's source, or those known
    // already, when there are; false when the source is to be measured.
    bool takeSourceLevels(int row);
    // A row's source probed, by the followed job if it has, or why it cannot be opened.
    std::optional<ProbeFacts> sourceFacts(int row, std::string& why);
    void makePlan();
    void planTagLevels();
    loudness_tags::Tags tagsOf(int row) const;
    void verify(int row);
    void maybeFinish();
    void tellProgress();
    void tellVerified(int row);
    void markChecked(int row);
    // A followed job's row whose output missed, in a mode that promises a level, is written
    // once more with the correction measured (Job::redo) and judged again.
    bool mayRedo(int row) const;
    void startRedos();
    void redone(int row, bool written, const JobError& error);
    // The row's first output stands, judged as it was; `why` the second could not be written.
    void keepFirst(int row, const std::string& why);

    JobSettings settings_;
    TFFDecoder& probe_;
    LoudnessReport report_;
    std::vector<double> headroom_;   // each source's copy headroom, once probed
    std::vector<bool> lossy_;        // each row's output is lossy
    std::vector<std::optional<loudness_tags::Levels>> tagLevels_;  // by row, once planned
    std::vector<bool> sourceAsked_;  // its source is measured or queued
    std::vector<std::string> outputs_;  // what the followed job wrote, by row
    std::vector<bool> checkedRows_;     // its output is measured, or it has none
    std::deque<Task> queue_;
    std::vector<MeasureWorker*> workers_;  // children, busy or idle
    std::map<MeasureWorker*, Task> running_;
    // Rows to write again once the job's rows are over (the job's target and ceiling drop),
    // and rows being written again.
    std::vector<std::tuple<int, double, double>> redoWaiting_;
    int redoing_ = 0;
    bool holdRedos_ = false;
    Job* job_ = nullptr;
    const KnownSourceLevels* known_ = nullptr;
    bool following_ = false;
    bool jobOver_ = false;
    bool planned_ = false;
    bool over_ = true;
    int asked_ = 0;
    int done_ = 0;
    int shownPercent_ = -1;
    int checked_ = 0;
};
