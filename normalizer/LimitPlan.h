#pragma once

#include "normalizer/FileAnalysis.h"

#include <string>

// The gain of a file whose peaks the limiter holds. Limiting lowers the loudness a
// little, so the gain is found by trial runs through the limiter (reading, not writing)
// until the limited file measures within kTolerance of the loudness wanted.
namespace limit_plan {

inline constexpr double kTolerance = 0.2;  // LU
inline constexpr int kMostTrials = 4;

struct Plan {
    double gainDb = 0;
    double deepestDb = 0;  // the deepest gain reduction, negative or 0
};

// The next gain to try, from the last two trials (a secant, its slope kept within
// limits); after the first trial alone, a typical slope.
struct Trial {
    double gainDb;
    double lufs;
};
double nextGain(const Trial& last, const Trial* previous, double wantedLufs);

// Rewrites the file at the gain that brings it to wantedLufs with its peaks limited.
// Throws WavError.
Plan apply(const std::string& path, const FileAnalysis& analysis, double wantedLufs, double ceilingDbtp);

}  // namespace limit_plan
