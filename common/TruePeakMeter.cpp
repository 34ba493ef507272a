#include "TruePeakMeter.h"

#include <algorithm>
#include <cmath>

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

double TruePeakMeter::takeFrame(const double* frame)
{
    const std::size_t taps = tapsPerPhase_;
    const std::size_t centre = taps - 1 - taps / 2;  // frame i - taps/2 in the window
    double peak = 0.0;
    for (unsigned c = 0; c < channels_; ++c) {
        double* h = history_.data() + c * 2 * taps;
        h[historyAt_] = h[historyAt_ + taps] = frame[c];
        const double* window = h + historyAt_ + 1;  // the last taps frames, oldest first
        peak = std::max(peak, std::fabs(window[centre]));
        for (unsigned k = 0; k + 1 < oversampling_; ++k) {
            const double* a = coefficients_.data() + k * taps;
            double sum = 0.0;
            for (std::size_t q = 0; q < taps; ++q)
                sum += a[q] * window[q];
            peak = std::max(peak, std::fabs(sum));
        }
    }
    historyAt_ = (historyAt_ + 1) % taps;
    return peak;
}

bool TruePeakMeter::runBelow(const double* frames, std::size_t count, double level)
{
    double runMax = 0.0;
    for (std::size_t i = 0; i < count * channels_; ++i)
        runMax = std::max(runMax, std::fabs(frames[i]));
    const bool below = std::max(runMax, previousRunMax_) * overshoot_ <= level;
    previousRunMax_ = runMax;
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
        historyAt_ = (historyAt_ + 1) % taps;
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
            for (std::size_t i = 0; i < run; ++i)
                peaks[start + i] = takeFrame(first + i * channels_);
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
            for (std::size_t i = 0; i < run; ++i)
                truePeak_ = std::max(truePeak_, takeFrame(first + i * channels_));
        }
    }
}
