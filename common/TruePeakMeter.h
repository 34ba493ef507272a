#pragma once

#include <cstddef>
#include <vector>

// The true peak of a signal: the highest magnitude of its samples and of the signal between
// them, found by oversampling (4x at 44.1 and 48 kHz, 2x at 88.2 and 96 kHz, the samples
// alone above) with a windowed-sinc interpolator. Takes interleaved samples on the -1..1
// scale, in order; memory does not grow with the signal's length.
class TruePeakMeter {
public:
    TruePeakMeter(unsigned channels, unsigned sampleRate);

    // Measures `count` frames. Runs of frames that cannot beat the peak so far are skipped.
    void addFrames(const double* frames, std::size_t count);
    // The highest true or sample peak of the frames added, linear.
    double truePeak() const { return truePeak_; }
    // The largest magnitude of any sample taken in, linear.
    double samplePeak() const { return samplePeak_; }

    // For a caller that acts on the peak of every frame (a limiter): the true peak of each of
    // `count` frames into `peaks`, except in runs of frames that cannot exceed `level`: those
    // are not interpolated and get 0. These frames continue the signal but do not count in
    // truePeak().
    void framePeaks(const double* frames, std::size_t count, double level, double* peaks);

    // The peak given for frame k is that of the signal around frame k - latency(), and the
    // interpolator reaches as many frames again on either side of it.
    std::size_t latency() const { return oversampling_ > 1 ? tapsPerPhase_ / 2 : 0; }
    unsigned channels() const { return channels_; }

private:
    // Whether no frame of this run, which follows the previous one, can exceed level.
    bool runBelow(const double* frames, std::size_t count, double level);
    // Takes frames into the history without measuring them.
    void skipFrames(const double* frames, std::size_t count);
    // Channel c's window over a run of frames (at most 64), its history first.
    template <class Sample>
    void channelLine(unsigned c, const double* frames, std::size_t count, Sample* line) const;
    // Raises each of `count` peaks to its frame's sample and phases in one channel's line.
    void raisePeaks(const double* line, std::size_t count, double* peaks) const;
    // Takes one run of frames (at most 64); the true peak of each into peaks.
    void takeRun(const double* frames, std::size_t count, double* peaks);
    // Takes one run of frames (at most 64) into truePeak(), summing exactly only the frames
    // that may beat it.
    void measureRun(const double* frames, std::size_t count);

    unsigned channels_;
    unsigned oversampling_;
    std::size_t tapsPerPhase_;
    std::vector<double> coefficients_;  // (oversampling_ - 1) phases of tapsPerPhase_ each
    std::vector<float> coefficientsF_;  // the same, rounded to single precision
    std::vector<double> history_;       // per channel, twice tapsPerPhase_ long, so a window is contiguous
    std::size_t historyAt_ = 0;         // next write position in each channel's history
    double overshoot_ = 1;              // the most a phase can give from samples of at most 1
    double previousRunMax_ = 0;         // the largest sample of the previous run of frames
    double windowMax_ = 0;              // the largest sample the current run's phases read
    double truePeak_ = 0;
    double samplePeak_ = 0;
};
