#pragma once

#include "analysis/ToolErrorReport.h"
#include "analysis/ToolRunResult.h"

#include <string>

// The texts the user sees about a tool run; the forms decide how to show them (the stage
// dialogs use caption "Error!" and the stop icon).
namespace tool_messages {

// One sentence on how the run ended, naming the tool:
//   "Cannot start /x/qvx/client123: No such file or directory"
//   "/x/qvx/client123 ended with exit status 1."
//   "/x/qvx/client123 was ended by signal 11 (Segmentation fault)."
//   "/x/qvx/client123 was cancelled."      "/x/qvx/client123 finished."
//   "/x/qvx/client123 stopped responding: no progress for 75 s."
std::string resultText(const ToolRunResult& result);

// The message for a finished run, or "" when there is nothing to tell:
// - cancelled: "";
// - could not start, or hung and killed: resultText();
// - exit status 0: "" when the caller's success marker was seen (max_volume, progress) and the
//   tool never said it could not write its output, else the trimmed error text ("" when no
//   line held "Error "): a converter exits 0 after "Error writing trailer of ...";
// - non-zero exit status or a signal: a failure even after progress lines: the trimmed error
//   text (or, when there is none, the last lines the tool printed), then resultText() on a
//   line of its own.
std::string finishedRunMessage(const ToolRunResult& result, const ToolErrorReport& report,
                               bool successMarkerSeen);

}  // namespace tool_messages
