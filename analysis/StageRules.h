#pragma once

#include "analysis/ToolErrorReport.h"
#include "analysis/ToolRunResult.h"

#include <string>

// What a stage does after one tool run for one file.
namespace stage_rules {

struct RunVerdict {
    enum class Kind {
        Done,         // the file counts as done
        Failed,       // the file failed; message says why
        Cancelled,    // the user cancelled: the job ends without a message
        CannotStart,  // the tool could not be started: message, the job ends
    };
    Kind kind = Kind::Done;
    std::string message;  // what to show (caption "Error!"), empty for Done and Cancelled
};

// A run is a failure when it ended with a non-zero status or a signal (even after its success
// marker), or ended well but printed "Error " lines and never its success marker.
RunVerdict judgeRun(const ToolRunResult& result, const ToolErrorReport& report,
                    bool successMarkerSeen);

enum class StageStep {
    NextFile,   // go on with the next file of the list (after showing the message, if any)
    NextStage,  // the list is done: arm the next stage
    EndJob,     // the job is over, without its next step
};

// A failed file in the middle of the list lets the job go on; a failed last file, a cancel or
// a tool that cannot start ends it.
StageStep stepAfter(RunVerdict::Kind kind, bool lastFile);

}  // namespace stage_rules
