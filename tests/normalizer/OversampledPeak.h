#pragma once

#include <cstddef>
#include <vector>

// The true peak of a signal by a plain interpolator of its own (Blackman-windowed sinc, 16 taps
// a phase; 4x up to 48 kHz, 2x up to 96 kHz, the samples alone above), kept apart from
// TruePeakMeter so that it can check what that one, and the limiter on it, hold.
class OversampledPeak {
public:
    OversampledPeak(unsigned channels, unsigned sampleRate);

    // The highest sample or interpolated magnitude so far, linear.
    double peak() const { return peak_; }
    // Takes interleaved frames, continuing the signal.
    void addFrames(const double* frames, std::size_t count);

private:
    std::vector<double> coefficients_;  // (factor_ - 1) phases of kTaps, oldest frame first
    std::vector<double> history_;       // kTaps frames per channel, oldest first
    unsigned channels_;
    unsigned factor_;
    double peak_ = 0;
};
