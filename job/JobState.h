#pragma once

#include "conversion/ConversionCommand.h"
#include "conversion/PeakGain.h"
#include "conversion/ProbeFacts.h"
#include "job/JobError.h"

#include "Measurement.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// Where one row of the list stands in the current stage.
enum class RowState { Waiting, Running, Done, Failed, Refused, Skipped };

// What the job keeps of one row.
struct JobRow {
    ProbeFacts facts;              // of the probe before the row's latest run
    bool probed = false;           // facts hold a probe of the source that succeeded
    std::string output;            // the planned output (conversion) or the WAV copy (extraction)
    std::optional<PeakGain> gain;  // the measured peak gain; none when there is none
    // By source stream: the gains that bring audio streams the format mixes down back to their
    // own loudness, measured in the peak or extraction run, or in a run before the conversion.
    std::map<int, double> downmixGains;
    bool measuring = false;        // the row's extraction stage runs its measurement first
    bool measuredFirst = false;    // the row's measurement run has ended: its extraction or conversion is next
    bool copyMixedDown = false;    // the WAV copy holds its first audio stream mixed down
    std::optional<Measurement> copyLevels;  // the normaliser's figures of the copy, before it changed it
    std::optional<conversion_command::ConversionCommand> command;  // while the conversion runs
    std::string note;              // what the written output was made without
    bool peakUnmeasured = false;   // its peak run failed: converted without a level change
    RowState state = RowState::Waiting;
    double fraction = 0;           // how much of the row's run is done, 0..1
    bool endedBefore = false;      // ended in an earlier stage: passed over, not told again

    // What to tell about the row's end: told once, in row order.
    JobError error;
    bool endsJob = false;      // the job ends once this has been told
    bool closesStage = false;  // the stage's end is told before this
};

// The rows of one job and where they stand in the current stage: which row starts next, how far
// the list has got, and which row's end is to be told next. Rows are handed out in row order,
// at most `maxRuns` running at once; their ends come in any order but are told in row order.
class JobState {
public:
    // What to tell about one row's end.
    struct Report {
        int row = 0;
        RowState state = RowState::Done;
        JobError error;
        bool endsJob = false;
        bool closesStage = false;
    };

    // A new job over these sources, every row waiting.
    void begin(std::vector<std::string> sources);
    // A new stage over the same rows: a row that failed an earlier stage is passed over (and
    // not told again); every other row waits.
    void beginStage(int maxRuns);

    int rowCount() const { return static_cast<int>(rows_.size()); }
    const std::vector<std::string>& sources() const { return sources_; }
    // The sources as looked up when the job began.
    const file_identity::GuardedNames& sourceNames() const { return sourceNames_; }
    // The sources and every output planned so far: what no further output may be.
    const file_identity::GuardedNames& takenNames() const { return takenNames_; }
    // Outputs planned so far, in row order: never used twice.
    const std::vector<std::string>& plannedOutputs() const { return plannedOutputs_; }
    void planOutput(const std::string& output);
    JobRow& row(int index) { return rows_.at(static_cast<std::size_t>(index)); }
    const JobRow& row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }

    // The row to start now: the first waiting one, while fewer than maxRuns run and no row
    // has ended the job. It is running from then on.
    std::optional<int> takeNextRow();
    // The first row still waiting, whatever runs.
    std::optional<int> firstWaitingRow() const;
    // The lowest running row.
    std::optional<int> firstRunningRow() const;

    // How much of a running row is done (kept within 0..1).
    void setFraction(int index, double fraction);
    // A running row's end: Done, Failed or Refused, with why. A row whose end ends the job
    // stops every later row from starting.
    void finishRow(int index, RowState state, JobError error = {}, bool endsJob = false,
                   bool closesStage = false);
    // A running row whose run was stopped without an end of its own: it waits again.
    void withdrawRow(int index);

    // The next row in row order whose end is known and not yet told; nothing while the row
    // next in order is still waiting or running.
    std::optional<Report> takeReport();
    // The row next in order has ended and waits to be told.
    bool reportDue();

    // Every row's end has been told and none runs.
    bool stageOver();
    int doneCount() const { return finished_; }
    int runningCount() const { return static_cast<int>(running_.size()); }
    // The rows done so far, a running row with its own fraction.
    double listFraction() const;

private:
    // Moves the next row to tell past the rows that ended in an earlier stage.
    void passOverEarlierEnds();

    std::vector<std::string> sources_;
    file_identity::GuardedNames sourceNames_;
    file_identity::GuardedNames takenNames_;
    std::vector<std::string> plannedOutputs_;
    std::vector<JobRow> rows_;
    std::vector<int> running_;  // the running rows, at most maxRuns
    int maxRuns_ = 1;
    int nextRow_ = 0;    // no row before it is waiting
    int told_ = 0;       // every row before it has been told
    int finished_ = 0;   // rows over in this stage, those that failed earlier included
    bool stopped_ = false;
};
