#pragma once

#include <string>
#include <vector>

// How loud each file should become, per mode.
//
// The means of -bv and -m are formed on the LUFS values themselves, not on their
// energies: loudness in LU is already a perceptual scale, and an energy mean would be
// pulled towards the loudest tracks, so that every quieter one got raised by more
// than "the average level" suggests. Only files with a measured loudness take part.
namespace gain_rules {

enum class Mode { Track, Album, WeightedMean, ArithmeticMean };

enum class Status { Measured, Silent, TooShort };

struct Levels {
    Status status = Status::Measured;
    double loudnessLufs = 0;       // integrated, when measured
    double truePeak = 0;           // linear, 1.0 = 0 dBTP
    double seconds = 0;            // duration, the weight of -bv
    double quantisationHeadroom = 0;  // linear: what requantising can add to a peak
};

struct Settings {
    double targetLufs = -14.0;
    double ceilingDbtp = -1.0;
    // A limiter holds the peaks, so that a file reaches its level; otherwise the gain is
    // lowered until the peaks fit.
    bool limitPeaks = false;
};

inline constexpr double kSmallestGainDb = 0.05;
// Gating blocks are 400 ms long: anything shorter has no loudness.
inline constexpr double kShortestSeconds = 0.4;

// A file's status from its length and integrated loudness.
Status statusOf(double seconds, double loudnessLufs);

// What requantising can add to a peak of a file with integers of this many significant bits
// (0: floating point, nothing), linear: half a step of rounding, and one more step of dither
// at 16 bits and fewer.
double quantisationHeadroom(int integerBits);

struct Decision {
    bool apply = false;
    double gainDb = 0;        // the gain the mode asks for, after the peak limit
    bool peakLimited = false;  // the ceiling lowered it
    bool limit = false;        // the limiter must hold the peaks at this gain
    std::string reason;       // why the file is left as it is, when !apply
};

// The highest gain that keeps the file's true peak at or under the ceiling, in dB
// (+infinity for a file of zeros).
double peakLimitDb(const Levels& levels, double ceilingDbtp);

// The limiter aims this far under the ceiling: meters oversample in different ways.
inline constexpr double kLimiterMarginDb = 0.15;
// The true peak the limiter holds a file of these levels at, linear.
double limiterCeiling(double ceilingDbtp, const Levels& levels);

// The level every file is brought to: the target (Track), the mean of the measured
// files (WeightedMean, ArithmeticMean). Not used for Album.
double weightedMeanLufs(const std::vector<Levels>& files);
double arithmeticMeanLufs(const std::vector<Levels>& files);

// One decision per file: the level of the mode, reached with linear gain under the ceiling,
// or with the limiter where settings.limitPeaks and the file's peaks need it. Album gives
// every file the same gain either way. jointLufs is the loudness of all measured files together
// (Album only).
std::vector<Decision> decide(Mode mode, const std::vector<Levels>& files, double jointLufs,
                             const Settings& settings);

}  // namespace gain_rules
