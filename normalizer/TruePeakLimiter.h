#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

// A look-ahead limiter that keeps the true peak of a signal at or under a ceiling.
//
// Peaks are found on the oversampled signal (4x at 44.1 and 48 kHz, 2x at 88.2 and
// 96 kHz, the samples alone above). The gain is the minimum of what each peak in the
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

    // Measuring instead of limiting: the highest true or sample peak of frames passed to
    // measure() (not to push()), linear. Runs of frames that cannot beat it are skipped.
    void measure(const double* frames, std::size_t count);
    double measuredPeak() const { return measured_; }

    std::size_t delay() const { return delay_; }
    // The smallest gain given so far, linear.
    double deepestGain() const { return deepest_; }

private:
    double framePeak(const double* frame);
    void remember(const double* frame);
    void emit(double required, std::vector<double>& gains);

    unsigned channels_;
    unsigned factor_;           // oversampling
    std::size_t taps_;          // per phase
    std::vector<double> phases_;  // (factor_ - 1) phases of taps_ coefficients
    std::vector<double> history_;  // per channel, twice taps_ long, so a window is contiguous
    std::size_t at_ = 0;         // next write position in each channel's history
    double ceiling_;
    double quietBelow_;       // a window of samples under this cannot interpolate over the ceiling
    double previousMax_ = 0;  // the largest sample of the previous run of frames
    double overshoot_ = 1;    // the most a phase can give from samples of at most 1
    double measured_ = 0;

    std::size_t attack_;  // frames of the moving average
    std::size_t window_;  // frames of the sliding minimum
    std::size_t delay_;
    double releaseCoeff_;

    std::size_t frame_ = 0;
    std::deque<std::pair<std::size_t, double>> minima_;  // ascending gains of the window
    double envelope_ = 1.0;
    std::vector<double> averaged_;  // the last attack_ envelope values, a ring
    std::size_t averagedAt_ = 0;
    double sum_;
    double deepest_ = 1.0;
};
