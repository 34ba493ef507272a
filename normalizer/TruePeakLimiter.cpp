#include "normalizer/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kTapsPerPhase = 12;  // 48 taps at 4x, as BS.1770 measures true peak
constexpr double kLookaheadSeconds = 0.005;
constexpr double kReleaseSeconds = 0.05;
constexpr double kFullyReleased = 1.0 - 1e-9;

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

TruePeakLimiter::TruePeakLimiter(unsigned channels, unsigned sampleRate, double ceiling)
    : channels_(channels),
      factor_(oversampling(sampleRate)),
      taps_(factor_ > 1 ? kTapsPerPhase : 1),
      history_(2 * taps_ * channels, 0.0),
      ceiling_(ceiling),
      attack_(std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(kLookaheadSeconds * sampleRate)))),
      releaseCoeff_(1.0 - std::exp(-1.0 / (kReleaseSeconds * sampleRate)))
{
    // Phase k interpolates k/factor_ of the way from frame (i - taps_/2) to the next one;
    // coefficients are stored oldest frame first, as the history is.
    for (unsigned k = 1; k < factor_; ++k)
        for (std::size_t q = 0; q < taps_; ++q) {
            double j = static_cast<double>(taps_ - 1 - q);
            phases_.push_back(interpolator(j - taps_ / 2.0 + double(k) / factor_));
        }
    // The most any phase can give from samples of at most 1, so that quiet runs of frames
    // need no interpolation.
    double gain = 1.0;
    for (unsigned k = 0; k + 1 < factor_; ++k) {
        double sum = 0.0;
        for (std::size_t q = 0; q < taps_; ++q)
            sum += std::fabs(phases_[k * taps_ + q]);
        gain = std::max(gain, sum);
    }
    overshoot_ = gain;
    quietBelow_ = ceiling_ / gain;
    // A peak seen at frame k stands for the signal up to taps_/2 frames earlier, and the
    // filter spreads each frame over as many again: the window covers both.
    const std::size_t spread = factor_ > 1 ? taps_ / 2 : 0;
    delay_ = attack_ + 2 * spread;
    window_ = delay_ + 2;
    averaged_.assign(attack_, 1.0);
    sum_ = static_cast<double>(attack_);
}

double TruePeakLimiter::framePeak(const double* frame)
{
    const std::size_t span = 2 * taps_;
    const std::size_t centre = taps_ - 1 - taps_ / 2;  // frame i - taps_/2 in the window
    double peak = 0.0;
    for (unsigned c = 0; c < channels_; ++c) {
        double* h = history_.data() + c * span;
        h[at_] = h[at_ + taps_] = frame[c];
        const double* window = h + at_ + 1;  // the last taps_ frames, oldest first
        peak = std::max(peak, std::fabs(window[centre]));
        for (unsigned k = 0; k + 1 < factor_; ++k) {
            const double* a = phases_.data() + k * taps_;
            double sum = 0.0;
            for (std::size_t q = 0; q < taps_; ++q)
                sum += a[q] * window[q];
            peak = std::max(peak, std::fabs(sum));
        }
    }
    at_ = (at_ + 1) % taps_;
    return peak;
}

void TruePeakLimiter::remember(const double* frame)
{
    const std::size_t span = 2 * taps_;
    for (unsigned c = 0; c < channels_; ++c)
        history_[c * span + at_] = history_[c * span + at_ + taps_] = frame[c];
    at_ = (at_ + 1) % taps_;
}

void TruePeakLimiter::emit(double required, std::vector<double>& gains)
{
    // Nothing to limit, now or within the window: the state would come out as it went in.
    if (required >= 1.0 && envelope_ == 1.0 && sum_ == static_cast<double>(attack_) && minima_.size() == 1 &&
        minima_.front().second >= 1.0) {
        minima_.front().first = frame_;
        averagedAt_ = (averagedAt_ + 1) % attack_;
        if (frame_++ >= delay_)
            gains.push_back(1.0);
        return;
    }
    while (!minima_.empty() && minima_.back().second >= required)
        minima_.pop_back();
    minima_.emplace_back(frame_, required);
    while (minima_.front().first + window_ <= frame_)
        minima_.pop_front();
    const double lowest = minima_.front().second;

    envelope_ = lowest < envelope_ ? lowest : envelope_ + (lowest - envelope_) * releaseCoeff_;
    if (envelope_ > kFullyReleased)
        envelope_ = 1.0;  // an exponential release never gets there by itself
    sum_ += envelope_ - averaged_[averagedAt_];
    averaged_[averagedAt_] = envelope_;
    averagedAt_ = (averagedAt_ + 1) % attack_;
    // A running sum drifts by rounding: summed afresh once per round of the ring.
    if (averagedAt_ == 0)
        sum_ = std::accumulate(averaged_.begin(), averaged_.end(), 0.0);
    double gain = std::min(1.0, sum_ / static_cast<double>(attack_));
    if (frame_ >= delay_) {
        gains.push_back(gain);
        deepest_ = std::min(deepest_, gain);
    }
    ++frame_;
}

namespace {

// Runs at least as long as the filter, so that a run and the one before it cover every
// frame a phase reads.
constexpr std::size_t kRun = 64;

}  // namespace

void TruePeakLimiter::measure(const double* frames, std::size_t count)
{
    for (std::size_t start = 0; start < count; start += kRun) {
        const std::size_t end = std::min(count, start + kRun);
        double runMax = 0.0;
        for (std::size_t i = start * channels_; i < end * channels_; ++i)
            runMax = std::max(runMax, std::fabs(frames[i]));
        const bool below = std::max(runMax, previousMax_) * overshoot_ <= measured_;
        previousMax_ = runMax;
        for (std::size_t i = start; i < end; ++i) {
            if (below)
                remember(frames + i * channels_);
            else
                measured_ = std::max(measured_, framePeak(frames + i * channels_));
        }
    }
}

void TruePeakLimiter::push(const double* frames, std::size_t count, std::vector<double>& gains)
{
    for (std::size_t start = 0; start < count; start += kRun) {
        const std::size_t end = std::min(count, start + kRun);
        double runMax = 0.0;
        for (std::size_t i = start * channels_; i < end * channels_; ++i)
            runMax = std::max(runMax, std::fabs(frames[i]));
        const bool quiet = std::max(runMax, previousMax_) < quietBelow_;
        previousMax_ = runMax;
        for (std::size_t i = start; i < end; ++i) {
            if (quiet) {
                remember(frames + i * channels_);
                emit(1.0, gains);
            } else {
                double peak = framePeak(frames + i * channels_);
                emit(peak > ceiling_ ? ceiling_ / peak : 1.0, gains);
            }
        }
    }
}

void TruePeakLimiter::finish(std::vector<double>& gains)
{
    std::vector<double> silence(channels_, 0.0);
    for (std::size_t i = 0; i < delay_; ++i) {
        double peak = framePeak(silence.data());
        emit(peak > ceiling_ ? ceiling_ / peak : 1.0, gains);
    }
}
