#pragma once

#include "conversion/ConversionCommand.h"
#include "conversion/FileIdentity.h"

#include <string>
#include <vector>

// The last step of one conversion: the converter wrote command.writePath; after success it
// becomes command.outputFile, after a failure or a cancel it is deleted, so that no partial
// output is ever left under a real name.
namespace output_files {

struct StepResult {
    bool ok = true;
    std::string error;  // names the file, the action and the system's reason
};

// Renames writePath to outputFile. Checked again just before: outputFile must not be (by
// identity or by name) the command's source, looked up now, or any of the job's sources;
// when it is, the written file is deleted and the step fails. An existing unrelated file at
// outputFile is replaced, atomically, only when `mayReplace`; else the step fails and leaves it
// as it is. When the rename fails, writePath is deleted too.
StepResult commitOutput(const conversion_command::ConversionCommand& command,
                        const file_identity::GuardedNames& jobSources, bool mayReplace = true);

// Deletes writePath if it is there (a missing file is no error).
StepResult discardOutput(const conversion_command::ConversionCommand& command);

}  // namespace output_files
