#include "normalizer/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double kLookaheadSeconds = 0.005;
constexpr double kReleaseSeconds = 0.05;
constexpr double kFullyReleased = 1.0 - 1e-9;

}  // namespace

TruePeakLimiter::TruePeakLimiter(unsigned channels, unsigned sampleRate, double ceiling)
    : meter_(channels, sampleRate),
      ceiling_(ceiling),
      lookahead_(std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(kLookaheadSeconds * sampleRate)))),
      // A peak seen at frame k stands for the signal up to latency() frames earlier, and the
      // interpolator spreads each frame over as many again: the window covers both.
      delay_(lookahead_ + 2 * meter_.latency()),
      minimumSpan_(delay_ + 2),
      releaseCoeff_(1.0 - std::exp(-1.0 / (kReleaseSeconds * sampleRate))),
      recentEnvelope_(lookahead_, 1.0),
      recentSum_(static_cast<double>(lookahead_))
{
}

void TruePeakLimiter::advance(double requiredGain, std::vector<double>& gains)
{
    // Nothing to limit, now or within the window: the state would come out as it went in.
    if (requiredGain >= 1.0 && envelope_ == 1.0 && recentSum_ == static_cast<double>(lookahead_) &&
        requiredMinima_.size() == 1 && requiredMinima_.front().second >= 1.0) {
        requiredMinima_.front().first = framesIn_;
        recentAt_ = (recentAt_ + 1) % lookahead_;
        if (framesIn_++ >= delay_)
            gains.push_back(1.0);
        return;
    }
    while (!requiredMinima_.empty() && requiredMinima_.back().second >= requiredGain)
        requiredMinima_.pop_back();
    requiredMinima_.emplace_back(framesIn_, requiredGain);
    while (requiredMinima_.front().first + minimumSpan_ <= framesIn_)
        requiredMinima_.pop_front();
    const double lowest = requiredMinima_.front().second;

    envelope_ = lowest < envelope_ ? lowest : envelope_ + (lowest - envelope_) * releaseCoeff_;
    if (envelope_ > kFullyReleased)
        envelope_ = 1.0;  // an exponential release never gets there by itself
    recentSum_ += envelope_ - recentEnvelope_[recentAt_];
    recentEnvelope_[recentAt_] = envelope_;
    recentAt_ = (recentAt_ + 1) % lookahead_;
    // A running sum drifts by rounding: summed afresh once per round of the ring.
    if (recentAt_ == 0)
        recentSum_ = std::accumulate(recentEnvelope_.begin(), recentEnvelope_.end(), 0.0);
    double gain = std::min(1.0, recentSum_ / static_cast<double>(lookahead_));
    if (framesIn_ >= delay_) {
        gains.push_back(gain);
        deepestGain_ = std::min(deepestGain_, gain);
    }
    ++framesIn_;
}

void TruePeakLimiter::push(const double* frames, std::size_t count, std::vector<double>& gains)
{
    // A chunk at a time, so that the peaks stay in the cache.
    constexpr std::size_t kChunkFrames = 256;
    double peaks[kChunkFrames];
    for (std::size_t start = 0; start < count; start += kChunkFrames) {
        const std::size_t chunk = std::min(kChunkFrames, count - start);
        meter_.framePeaks(frames + start * meter_.channels(), chunk, ceiling_, peaks);
        for (std::size_t i = 0; i < chunk; ++i)
            advance(peaks[i] > ceiling_ ? ceiling_ / peaks[i] : 1.0, gains);
    }
}

void TruePeakLimiter::finish(std::vector<double>& gains)
{
    const std::vector<double> silence(delay_ * meter_.channels(), 0.0);
    push(silence.data(), delay_, gains);
}
