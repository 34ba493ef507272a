#pragma once

#include "Measurement.h"
#include "report/LoudnessPlan.h"

#include <optional>
#include <string>

// Whether each output kept the promise of its plan, and which rows need no writing at all.
namespace verification {

inline constexpr double kLevelToleranceLu = 0.5;  // RMS modes: the output's loudness
inline constexpr double kGainToleranceDb = 0.2;   // Percentage and Gain: the gain it got
// Lossy encoders add to the peaks of what they are given: so much over the ceiling (or full
// scale) still passes when the output is lossy.
inline constexpr double kLossyPeakAllowanceDb = 0.5;

struct Verdict {
    bool pass = true;
    std::string reason;  // why it missed, naming the figures; "" when it passed
};

// An output's measurement against its row's promise:
// - RMS modes: loudness within kLevelToleranceLu of the level promised (unless the source had
//   none: silent, too short) and true peak at or under the ceiling the user set, the reason
//   naming both when both are missed;
// - Peak mode: sample peak at or under full scale;
// - Percentage and Gain: the loudness changed by the asked gain within kGainToleranceDb (the
//   sample peak for a silent source; nothing asked of a silenced one).
// A lossy output may have its peaks kLossyPeakAllowanceDb higher.
Verdict check(const loudness_plan::Settings& settings, const loudness_plan::Row& row, const Measurement& source,
              const Measurement& output, bool lossyOutput);

// How a row whose output missed is written once more: its gain moved by the loudness error
// (the RMS modes: promised minus measured) and its ceiling lowered by how far the output's peak
// went over it (the RMS modes: the true peak over the ceiling; the peak mode: the sample peak
// over full scale, by which its gain goes down).
struct Correction {
    double gainDb = 0;
    double ceilingDropDb = 0;
};

// The correction of a missed verdict in the RMS and peak modes; none for a pass, for the
// percentage and gain modes (they promise a gain, not a level) or when there is nothing to move.
std::optional<Correction> correction(const loudness_plan::Settings& settings, const loudness_plan::Row& row,
                                     const Measurement& output, const Verdict& verdict);

// Whether a row's output can be a copy of its source's streams, nothing re-encoded: its level
// would change by less than skipWithinDb, no format conversion is asked and its peaks need no
// limiting. Never for a row without a plan.
bool leaveUnchanged(const loudness_plan::Row& row, double skipWithinDb, bool formatConverting);

}  // namespace verification
