#include "TruePeakMeter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kTapsPerPhase = 12;  // 48 taps at 4x, as BS.1770 measures true peak
// Runs at least as long as the filter, so that a run and the one before it cover every
// frame a phase reads.
constexpr std::size_t kRunFrames = 64;

unsigned oversampling(unsigned sampleRate)
{
    if (sampleRate <= 48000)
        return 4;
    return sampleRate <= 96000 ? 2 : 1;
}

// Windowed sinc at u frames from the centre of a kTapsPerPhase window.
double interpolator(double u)
{
    const double half = kTapsPerPhase / 2.0;
    double sinc = u == 0 ? 1.0 : std::sin(kPi * u) / (kPi * u);
    double window = 0.5 * (1.0 + std::cos(kPi * u / (half + 1.0)));
    return sinc * window;
}

// The magnitude of one phase between each of `count` frames and the next, raised into peaks.
// Several frames are summed at once, each sum in the order of its taps, so the figures are the
// same to the bit on every processor; wider registers only hold more frames at once.
__attribute__((target_clones("avx512f", "avx2", "default")))
void phasePeaks(const double* line, const double* a, std::size_t taps, std::size_t count, double* peaks)
{
    using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
    constexpr std::size_t kLanes = 8;
    constexpr std::size_t kBlock = 4 * kLanes;  // frames summed together, in four Lanes
    std::size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        Lanes sums[4] = {};
        for (std::size_t q = 0; q < taps; ++q)
            for (std::size_t l = 0; l < 4; ++l) {
                Lanes x;
                std::memcpy(&x, line + i + q + l * kLanes, sizeof x);
                sums[l] += a[q] * x;
            }
        for (std::size_t l = 0; l < 4; ++l) {
            Lanes peak;
            std::memcpy(&peak, peaks + i + l * kLanes, sizeof peak);
            const Lanes magnitude = sums[l] < 0 ? -sums[l] : sums[l];
            peak = peak < magnitude ? magnitude : peak;  // std::max, lane by lane
            std::memcpy(peaks + i + l * kLanes, &peak, sizeof peak);
        }
    }
    for (; i < count; ++i) {
        double sum = 0.0;
        for (std::size_t q = 0; q < taps; ++q)
            sum += a[q] * line[i + q];
        peaks[i] = std::max(peaks[i], std::fabs(sum));
    }
}

// The largest magnitude of n samples (NaN ignored, as std::max does), several lanes at once
// rather than one chain of comparisons.
__attribute__((target_clones("avx512f", "avx2", "default")))
double largestMagnitude(const double* x, std::size_t n)
{
    using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
    constexpr std::size_t kLanes = 8;
    Lanes largest{};
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        Lanes v;
        std::memcpy(&v, x + i, sizeof v);
        const Lanes magnitude = v < 0 ? -v : v;
        largest = largest < magnitude ? magnitude : largest;
    }
    double result = 0.0;
    for (std::size_t l = 0; l < kLanes; ++l)
        result = std::max(result, largest[l]);
    for (; i < n; ++i)
        result = std::max(result, std::fabs(x[i]));
    return result;
}

}  // namespace

TruePeakMeter::TruePeakMeter(unsigned channels, unsigned sampleRate)
    : channels_(channels),
      oversampling_(oversampling(sampleRate)),
      tapsPerPhase_(oversampling_ > 1 ? kTapsPerPhase : 1),
      history_(2 * tapsPerPhase_ * channels, 0.0)
{
    // Phase k interpolates k/oversampling_ of the way from frame (i - taps/2) to the next
    // one; coefficients are stored oldest frame first, as the history is.
    const std::size_t taps = tapsPerPhase_;
    for (unsigned k = 1; k < oversampling_; ++k)
        for (std::size_t q = 0; q < taps; ++q) {
            double j = static_cast<double>(taps - 1 - q);
            coefficients_.push_back(interpolator(j - taps / 2.0 + double(k) / oversampling_));
        }
    // So that quiet runs of frames need no interpolation.
    for (unsigned k = 0; k + 1 < oversampling_; ++k) {
        double sum = 0.0;
        for (std::size_t q = 0; q < taps; ++q)
            sum += std::fabs(coefficients_[k * taps + q]);
        overshoot_ = std::max(overshoot_, sum);
    }
}

void TruePeakMeter::takeRun(const double* frames, std::size_t count, double* peaks)
{
    // Each channel's last frames before the run, then the run: the window of frame i starts at
    // line[i].
    const std::size_t taps = tapsPerPhase_;
    const std::size_t centre = taps - 1 - taps / 2;  // frame i - taps/2 in its window
    double line[kTapsPerPhase - 1 + kRunFrames];
    std::fill_n(peaks, count, 0.0);
    for (unsigned c = 0; c < channels_; ++c) {
        const double* h = history_.data() + c * 2 * taps + historyAt_ + 1;
        std::copy_n(h, taps - 1, line);
        for (std::size_t i = 0; i < count; ++i)
            line[taps - 1 + i] = frames[i * channels_ + c];
        for (std::size_t i = 0; i < count; ++i)
            peaks[i] = std::max(peaks[i], std::fabs(line[i + centre]));
        for (unsigned k = 0; k + 1 < oversampling_; ++k)
            phasePeaks(line, coefficients_.data() + k * taps, taps, count, peaks);
    }
    skipFrames(frames, count);
}

bool TruePeakMeter::runBelow(const double* frames, std::size_t count, double level)
{
    const double runMax = largestMagnitude(frames, count * channels_);
    const bool below = std::max(runMax, previousRunMax_) * overshoot_ <= level;
    // A run shorter than the filter (the end of what a caller gave) leaves frames before it
    // within reach of the next one: their largest is kept along.
    previousRunMax_ = count >= tapsPerPhase_ ? runMax : std::max(runMax, previousRunMax_);
    samplePeak_ = std::max(samplePeak_, runMax);
    return below;
}

void TruePeakMeter::skipFrames(const double* frames, std::size_t count)
{
    // Only the last frames stay in the history.
    const std::size_t taps = tapsPerPhase_;
    const std::size_t kept = std::min(count, taps);
    historyAt_ = (historyAt_ + count - kept) % taps;
    for (std::size_t i = count - kept; i < count; ++i) {
        for (unsigned c = 0; c < channels_; ++c) {
            double* h = history_.data() + c * 2 * taps;
            h[historyAt_] = h[historyAt_ + taps] = frames[i * channels_ + c];
        }
        if (++historyAt_ == taps)
            historyAt_ = 0;
    }
}

void TruePeakMeter::framePeaks(const double* frames, std::size_t count, double level, double* peaks)
{
    for (std::size_t start = 0; start < count; start += kRunFrames) {
        const std::size_t run = std::min(kRunFrames, count - start);
        const double* first = frames + start * channels_;
        if (runBelow(first, run, level)) {
            skipFrames(first, run);
            std::fill_n(peaks + start, run, 0.0);
        } else {
            takeRun(first, run, peaks + start);
        }
    }
}

void TruePeakMeter::addFrames(const double* frames, std::size_t count)
{
    // Each run is measured against the peak of all before it.
    for (std::size_t start = 0; start < count; start += kRunFrames) {
        const std::size_t run = std::min(kRunFrames, count - start);
        const double* first = frames + start * channels_;
        if (runBelow(first, run, truePeak_)) {
            skipFrames(first, run);
        } else {
            double peaks[kRunFrames];
            takeRun(first, run, peaks);
            truePeak_ = std::max(truePeak_, largestMagnitude(peaks, run));  // peaks are magnitudes
        }
    }
}
