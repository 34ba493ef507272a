#pragma once

#include "Measurement.h"

#include <optional>
#include <string>

// How the measuring of one file ended: its measurement, or why there is none.
struct MeasureResult {
    std::string file;                        // the file measured, absolute
    std::optional<Measurement> measurement;  // when the worker answered with one
    std::string reason;                      // otherwise: FFmpeg's, the tool's or the system's words

    // "Cannot measure <file>: <reason>"; "" when measured.
    std::string message() const
    {
        return measurement ? std::string() : "Cannot measure " + file + ": " + reason;
    }
};
