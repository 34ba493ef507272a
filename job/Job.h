#pragma once

#include "Measurement.h"
#include "conversion/PeakGain.h"
#include "conversion/ProbeFacts.h"
#include "job/JobError.h"
#include "job/JobSettings.h"

#include <QObject>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class JobState;
class LoudnessCheck;
enum class RowState;
class ScratchLock;
class TFFDecoder;
class ToolProcess;
struct ToolRunResult;
namespace stage_rules {
struct RunVerdict;
}

// One Adjust Volume job over a list of files, from its start to its end, with no window: it
// runs the stages of its mode, up to `filesAtOnce` tool runs at a time, and tells what
// happens by its signals, which a front end shows. Everything happens on the thread the job
// lives on, from its event loop; tools are started from an argument vector and die with the
// program.
//
// Stages by mode: Percentage and Gain convert; Peak measures, then converts; the RMS modes
// extract WAV copies into the scratch folder, normalise them in one run (one per folder when
// each folder is a set), then convert; with loudness tags only they convert at once (stream
// copies with the tags of the settings).
//
// Order of the signals: a stage is started (stageStarted) just before its first run, so a row
// that ends before any run (its probe, its folder, a refusal) is told before it (the peak
// stage, where no row ends so, is started 100 ms before its first runs); rows start in
// row order and their ends (rowMeasured, rowEnded) are told in row order, whichever run ends
// first. A job that a LoudnessCheck follows ends with that check as a stage of its own (Check):
// after the last row, until every output written is judged (and, in the RMS and peak modes,
// every row that missed is written once more and judged again: redo()). With one file at
// once, no row is prepared or started while an end is being told: a front end may show a
// modal message from its slot (a nested event loop) and the job goes on when the slot returns. With more at once, runs already going go on meanwhile and keep the
// pool full, and the next end is told when the slot has returned. finished() comes last, once;
// the scratch folder of a completed job is cleared when its slots have returned.
//
// A slot may call cancel(); the job then stops where it stands. It must not delete the job
// from a slot (deleteLater() neither, since a modal message runs the event loop while the job
// is still at work below it); keep it until the next job or until the front end goes.
class Job : public QObject {
    Q_OBJECT
public:
    enum class Stage { PeakMeasurement, WavExtraction, Normalisation, Conversion, Check };
    enum class RowEnd { Written, Failed, Refused, Skipped };
    enum class Outcome { Completed, Failed, Cancelled };

    // A job over settings.sources; `probe` opens each row's source before its run, one at a
    // time (the probe of the front end's list, or one of the job's own).
    Job(JobSettings settings, TFFDecoder& probe, QObject* parent = nullptr);
    // Runs still going are killed and what they were writing is removed; nothing is told.
    ~Job() override;

    // Refuses the job when the output folder lies in the scratch folder (or, in an RMS mode, a
    // source does), takes and clears the scratch folder of an RMS job, removes the hidden files
    // that killed runs left in the output folder, and begins the first stage. A refusal is
    // told by finished(). Signals may come before this returns.
    void start();
    // The outputs a job with these settings would write over files already in its output
    // folder (none of them a source): for a front end to ask, before the job, what to do.
    static std::vector<existing_outputs::Clash> clashes(const JobSettings& settings);

    // Ends the job at once: every run killed, what it was writing removed (WAV copies already
    // made stay until a later job's start), finished(Cancelled). Nothing once finished.
    void cancel();

    // The check that judges this job's outputs (LoudnessCheck::follow calls it): the job waits
    // for it after its last row, in the Check stage, and a cancel stops it too.
    void setCheck(LoudnessCheck* check);

    // In the Check stage, for a row whose output missed its promise: writes it once more over
    // the first output (through a part file renamed into place, so a failure or a cancel leaves
    // the first as it was): in the RMS modes its WAV copy normalised again to targetLufs with
    // the ceiling lowered by ceilingDropDb, then converted again; in the peak mode converted
    // again with its gain lowered by ceilingDropDb. Told by rowRedone(), perhaps before this
    // returns; false (nothing told) when the row cannot be written again (another mode, a row
    // left unchanged or tagged, no copy or no gain).
    bool redo(int row, double targetLufs, double ceilingDropDb);

    const JobSettings& settings() const { return settings_; }
    int rowCount() const { return static_cast<int>(settings_.sources.size()); }
    bool isOver() const { return over_; }
    Stage stage() const { return stage_; }
    // stageStarted() has been told for the current stage.
    bool stageShown() const { return shown_; }
    // Files over in the current stage (for the normaliser: the files it has reported) and
    // tool runs at work.
    int doneCount() const;
    int runningCount() const;
    // The job's own tool runs at work, whatever the stage.
    int toolRunsGoing() const;
    std::optional<int> firstRunningRow() const;
    bool rowRunning(int row) const;
    // Where a row's output goes (in the conversion stage) or went (once told written).
    const std::string& rowOutput(int row) const;
    // In the RMS modes, once the normaliser has run: its figures of a row's WAV copy before it
    // changed it, which are those of the source's first audio stream unless the copy holds
    // it mixed down (then none).
    std::optional<Measurement> rowSourceLevels(int row) const;
    // The job's probe of a row's source, once it has opened it; none before or when it could not.
    const ProbeFacts* rowSourceFacts(int row) const;

signals:
    void stageStarted(Job::Stage stage);
    void stageEnded(Job::Stage stage);
    // A row's run begins (row order).
    void rowStarted(int row);
    // How far the stage has got over the whole list, 0..100 (by file for the measuring stages,
    // by the converter's time for the converting ones; never back within a stage), and the
    // status line ("Analyze data......", "Process 00:01:30.50 ......"). row is -1 while the
    // normaliser works on the whole list.
    void rowProgress(int row, int percent, const std::string& status);
    // The peak stage's finding for a row: the gain to full scale, none for silence or a run
    // that failed (told before that row's rowEnded). error says why a row that is still
    // converted (without a level change) could not be measured.
    void rowMeasured(int row, const std::optional<PeakGain>& gain, const JobError& error);
    // A row's end: written (note: the source's streams its output could not hold), refused
    // before any run, failed in any stage, or skipped (a file of its output's name is there and
    // the settings say to leave such rows); error says why. Once per row at most.
    void rowEnded(int row, Job::RowEnd end, const JobError& error, const std::string& note);
    // A row asked for by redo() is written again, or why not (its first output stays).
    void rowRedone(int row, bool written, const JobError& error);
    // A tool is about to run with these arguments.
    void toolStarted(const std::string& tool, const std::vector<std::string>& arguments);
    // The job is over. error says why when a failure was the job's rather than a row's (a
    // refusal at the start, the normaliser's run).
    void finished(Job::Outcome outcome, const JobError& error);

private:
    struct Command {
        std::string tool;
        std::vector<std::string> arguments;
    };
    struct RowRun;

    bool perRowStage() const { return stage_ != Stage::Normalisation && stage_ != Stage::Check; }
    bool oneAtOnce() const { return settings_.filesAtOnce <= 1; }
    bool tagsOnly() const { return settings_.writing == JobSettings::Writing::TagsOnly; }

    // --- The sequence (Job.cpp) ---
    JobError startProblem() const;
    void beginStage(Stage stage);
    void showStage();
    void endStage();
    void nextStage();
    void finish(Outcome outcome, JobError error = {});
    // The rows are over: the check judges what is left before the job ends as asked.
    void beginCheck(Outcome outcome, JobError error);
    void checkEnded(bool cancelled);
    void clearScratchFolder();
    // Starts rows and tells ends until neither has more to do; re-entered from a slot it only
    // notes that there is more.
    void advance();
    void startRows();
    void tellEnds();
    void tell(int row, RowState state, const JobError& error);
    void launch(int row, Command command, bool firstRun = true);
    // Takes a row's run out of the pool once it has ended; none when it is gone already.
    std::unique_ptr<RowRun> takeRun(int row);
    void runEnded(int row, const ToolRunResult& result);
    void killRuns();
    void progress(int row);
    void runNormaliser();
    void normaliserEnded(const ToolRunResult& result);
    // Keeps the figures of a copy that a line of the normaliser gives.
    void keepCopyLevels(std::string_view line);

    // --- What each per-row stage does with a row (JobStages.cpp) ---
    // The row's first run, or nothing when the row has ended instead (told later).
    std::optional<Command> prepare(int row);
    std::optional<Command> prepareConversion(int row);
    std::optional<Command> prepareExtraction(int row);
    bool probe(int row);
    // A built conversion whose output is a file already in the output folder, done as the
    // settings say; false when the row has ended instead.
    bool settleExisting(int row, conversion_command::ConversionRequest& request,
                        conversion_command::ConversionResult& built);
    conversion_command::ConversionRequest conversionRequest(int row) const;
    // The next run of a row whose run has just ended well, when its work has more than one.
    std::optional<Command> nextRun(int row);
    void handleLine(int row, RowRun& run, std::string_view line);
    stage_rules::RunVerdict judge(int row, RowRun& run, const ToolRunResult& result);
    void discard(int row);
    // Why a file the converter wrote for a row cannot be kept although it ended well: it is
    // shorter than the row's source. "" when it is whole or that cannot be told (streamsKept:
    // it holds every stream that makes the source's length).
    std::string endedEarly(int row, const std::string& written, bool streamsKept);
    void failRow(int row, RowState state, JobError error, bool endsJob, bool closesStage = false);
    // --- Writing a row once more in the Check stage (JobRedo.cpp) ---
    struct Redo {
        int row = 0;
        double targetLufs = 0;
        double ceilingDropDb = 0;
    };
    void startRedos();
    void runRedoTool(int row, Command command, std::function<void(RowRun&, const ToolRunResult&)> ended);
    void convertAgain(int row);
    void redoEnded(int row, JobError error);

    // The normaliser's runs, one after another: one over every copy, or one per folder's
    // copies when each folder is a set.
    std::vector<std::vector<std::string>> normaliserRuns() const;

    JobSettings settings_;
    TFFDecoder& probe_;
    std::unique_ptr<JobState> state_;
    std::unique_ptr<ScratchLock> scratchLock_;
    std::map<int, std::unique_ptr<RowRun>> runs_;
    std::unique_ptr<RowRun> normaliser_;
    std::deque<std::vector<std::string>> normaliserQueue_;  // the normaliser's runs still to come
    std::deque<Redo> redos_;  // rows to write again, not started yet
    LoudnessCheck* check_ = nullptr;
    Outcome checkedOutcome_ = Outcome::Completed;  // how the job ends once its check has
    JobError checkedError_;
    int written_ = 0;
    // The output folder's names, read once as the conversion stage begins.
    std::unordered_set<std::string> existingNames_;

    Stage stage_ = Stage::Conversion;
    bool started_ = false;
    bool over_ = false;
    bool shown_ = false;
    bool stageEndTold_ = false;
    bool holding_ = false;  // the peak stage's first runs wait for its first tick
    bool advancing_ = false;
    bool again_ = false;
    bool starting_ = false;
    bool telling_ = false;
    int percent_ = 0;
    std::string status_;
    int normalised_ = 0;
    int shownPercent_ = -1;
    std::string shownStatus_;
    int shownDone_ = -1;
};
