#pragma once

#include "analysis/ScratchLock.h"
#include "conversion/ConversionCommand.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

// What one Adjust Volume job keeps beside the main window's job fields.
struct JobRecord {
    bool active = false;
    conversion_command::VolumeMode mode = conversion_command::VolumeMode::ChangePercent;
    std::vector<std::string> sources;      // every row's path, taken when the job starts
    std::vector<std::string> usedOutputs;  // outputs planned so far: never used twice
    std::set<int> failedRows;              // rows that failed an earlier stage: not converted
    std::optional<conversion_command::ConversionCommand> command;  // the running conversion
    std::string scratchFolder;             // of an RMS job
    ScratchLock scratchLock;               // held by an RMS job from start to end
};
