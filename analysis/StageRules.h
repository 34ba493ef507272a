#pragma once

#include "analysis/ToolErrorReport.h"
#include "analysis/ToolRunResult.h"

#include <cstdint>
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
// marker), hung, said it could not write or close its output (whatever its status), or ended
// well but printed "Error " lines and never its success marker.
RunVerdict judgeRun(const ToolRunResult& result, const ToolErrorReport& report,
                    bool successMarkerSeen);

// The written file lasts less than its source by more than encoders' padding and priming can
// explain (0.25 s and 1 %): the converter stopped early, whatever it said. An unknown duration
// (negative) is never short.
bool endsEarly(std::int64_t sourceUs, std::int64_t writtenUs);

enum class StageStep {
    NextFile,   // go on with the next file of the list (after showing the message, if any)
    NextStage,  // the list is done: arm the next stage
    EndJob,     // the job is over, without its next step
};

// A failed file in the middle of the list lets the job go on; a failed last file, a cancel or
// a tool that cannot start ends it.
StageStep stepAfter(RunVerdict::Kind kind, bool lastFile);

}  // namespace stage_rules
