#include "OversampledPeak.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kTaps = 16;

double blackmanSinc(double u)
{
    const double half = kTaps / 2.0;
    const double sinc = u == 0 ? 1.0 : std::sin(kPi * u) / (kPi * u);
    const double window = 0.42 + 0.5 * std::cos(kPi * u / half) + 0.08 * std::cos(2 * kPi * u / half);
    return sinc * window;
}

}  // namespace

OversampledPeak::OversampledPeak(unsigned channels, unsigned sampleRate)
    : history_(kTaps * channels, 0.0), channels_(channels),
      factor_(sampleRate <= 48000 ? 4 : sampleRate <= 96000 ? 2 : 1)
{
    // Phase k lies k/factor_ of the way from the window's middle frame to the next.
    for (unsigned k = 1; k < factor_; ++k)
        for (std::size_t q = 0; q < kTaps; ++q)
            coefficients_.push_back(blackmanSinc(double(k) / factor_ + double(kTaps / 2 - 1) - double(q)));
}

void OversampledPeak::addFrames(const double* frames, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        for (unsigned c = 0; c < channels_; ++c) {
            double* h = history_.data() + c * kTaps;
            std::copy(h + 1, h + kTaps, h);
            h[kTaps - 1] = frames[i * channels_ + c];
            peak_ = std::max(peak_, std::fabs(h[kTaps - 1]));
            for (unsigned k = 1; k < factor_; ++k) {
                const double* a = coefficients_.data() + (k - 1) * kTaps;
                double sum = 0;
                for (std::size_t q = 0; q < kTaps; ++q)
                    sum += a[q] * h[q];
                peak_ = std::max(peak_, std::fabs(sum));
            }
        }
}
