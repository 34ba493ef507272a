#pragma once

#include "analysis/ToolErrorReport.h"
#include "analysis/ToolOutputParsers.h"
#include "job/Job.h"

class ToolProcess;

// One tool run of a job (a row's, or the normaliser's over the whole list) and what its output
// has shown so far.
struct Job::RowRun {
    ToolProcess* process = nullptr;  // a child of the job
    ToolErrorReport report;
    bool markerSeen = false;       // the stage's sign of success
    std::optional<PeakGain> gain;  // the peak stage's finding
    tool_output::LoudnessSummaries loudness;  // what the run's loudness meters reported
    JobError error;                // why the run failed, once judged
};
