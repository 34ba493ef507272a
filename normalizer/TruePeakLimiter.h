#pragma once

#include "TruePeakMeter.h"

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

// A look-ahead limiter that keeps the true peak of a signal at or under a ceiling.
//
// Peaks are found by a TruePeakMeter. The gain is the minimum of what each peak in the
// look-ahead window needs, released slowly and smoothed by a moving average as long as
// the look-ahead, so that it is already down when a peak arrives and never overshoots.
// All channels get the same gain. The gains come out `delay()` frames after their
// frames went in; memory does not grow with the signal's length.
class TruePeakLimiter {
public:
    TruePeakLimiter(unsigned channels, unsigned sampleRate, double ceiling);

    // Takes `count` interleaved frames and appends to `gains` the gain of every frame
    // whose look-ahead is complete, oldest first.
    void push(const double* frames, std::size_t count, std::vector<double>& gains);
    // Appends the gains of the frames still held back, as if silence followed.
    void finish(std::vector<double>& gains);

    std::size_t delay() const { return delay_; }
    // The smallest gain given so far, linear.
    double deepestGain() const { return deepestGain_; }

private:
    void advance(double requiredGain, std::vector<double>& gains);

    TruePeakMeter meter_;
    double ceiling_;

    std::size_t lookahead_;     // frames: the length of the moving average
    std::size_t delay_;         // frames from a frame going in to its gain coming out
    std::size_t minimumSpan_;   // frames whose required gains the sliding minimum covers
    double releaseCoeff_;       // per frame, of the distance to the gain required

    std::size_t framesIn_ = 0;
    std::deque<std::pair<std::size_t, double>> requiredMinima_;  // (frame, gain), ascending gains
    double envelope_ = 1.0;     // the released minimum, before smoothing
    std::vector<double> recentEnvelope_;  // the last lookahead_ envelope values, a ring
    std::size_t recentAt_ = 0;
    double recentSum_;
    double deepestGain_ = 1.0;
};
