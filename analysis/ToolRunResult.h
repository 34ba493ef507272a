#pragma once

#include <string>
#include <sys/types.h>

// How one run of an external tool ended.
struct ToolRunResult {
    enum class Outcome {
        Succeeded,    // exited with status 0
        ExitStatus,   // exited with a non-zero status (exitStatus)
        Signalled,    // killed by a signal it did not ask for (signalNumber)
        Cancelled,    // the cancel flag was set; the tool and its process group were killed
        StartFailed,  // could not be started (startError says why)
        Stalled,      // printed nothing for stalledSeconds: its process group was killed
    };

    Outcome outcome = Outcome::StartFailed;
    std::string toolPath;
    int exitStatus = 0;
    int signalNumber = 0;
    std::string startError;  // the system's reason, e.g. "No such file or directory"
    pid_t pid = 0;           // the child's id, also its process group's; 0 when none was started
    int stalledSeconds = 0;

    bool succeeded() const { return outcome == Outcome::Succeeded; }
    bool cancelled() const { return outcome == Outcome::Cancelled; }
    bool startFailed() const { return outcome == Outcome::StartFailed; }
    // Ended on its own with a non-zero status or by a signal, or hung and was killed.
    bool failed() const
    {
        return outcome == Outcome::ExitStatus || outcome == Outcome::Signalled || outcome == Outcome::Stalled;
    }
};
