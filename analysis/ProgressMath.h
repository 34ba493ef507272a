#pragma once

#include "analysis/ToolOutputParsers.h"

#include <cstdint>
#include <string>

// Progress-bar arithmetic of the stage dialogs. Bars run from 0 to max (100 in every dialog);
// every rounding takes halves to the even neighbour (12.5 -> 12, 37.5 -> 38).
namespace progress_math {

int roundHalfEven(double value);

// The step by which the peak and normaliser dialogs advance per file: Round(max × (1 / items)).
// 0 for an empty list. Three steps for 3 files end at 99, eight for 8 files at 96.
int progressStep(int max, int itemCount);

// The bar after one more step, kept within 0..max.
int steppedPosition(int current, int max, int itemCount);

// Whole seconds of a duration in microseconds, truncated; 0 for an unknown (-1) duration.
std::int64_t wholeSeconds(std::int64_t durationUs);

// How far the list has got, in files: elapsed / D + fileIndex with D = wholeSeconds(durationUs).
// The file's own share is kept within 0..1, so that a truncated D (a 1.9 s file has D = 1)
// cannot push the bar into the next file's share. With D = 0 (unknown duration or below one
// second) it is the file's start, fileIndex.
double listFraction(double elapsedSeconds, std::int64_t durationUs, int fileIndex);

// The conversion dialog's position for a progress line: Round(max × listFraction / itemCount),
// kept within 0..max; 0 for an empty list.
int conversionPosition(double elapsedSeconds, std::int64_t durationUs, int fileIndex,
                       int itemCount, int max = 100);

// The bar for a list of which `rowsDone` rows are done (a running row counts with its own
// share): Round(max × rowsDone / itemCount), kept within 0..max; 0 for an empty list.
int listPosition(double rowsDone, int itemCount, int max = 100);

// The bar never moves back: the position to show when `proposed` is offered at `current`.
int neverBack(int current, int proposed);

// "Process 00:01:30.50 ......" (final conversion) and "Prepare Audio Data 00:01:30.50 ......"
// (WAV extraction), with the time texts as the converter printed them.
std::string processLabel(const tool_output::ProgressTime& time);
std::string prepareAudioDataLabel(const tool_output::ProgressTime& time);

// Which file of the list a stage is at, for the person watching: "File 3 of 12" for the
// 0-based index 2 of 12 files. The index is kept within the list, so a stage that counts
// finished files (the normaliser reports one per file) never shows "File 13 of 12".
// Empty for an empty list.
std::string fileOfCountText(int fileIndex, int itemCount);

// The same with several files at work: with `done` rows over and `running` at work, "File 3
// of 12" while one (or none) runs, "Files 3–4 of 12" while two do. Kept within the list.
std::string filesAtWorkText(int done, int running, int itemCount);

}  // namespace progress_math
