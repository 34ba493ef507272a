#include "KWeighting.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The analogue prototypes of BS.1770's two stages, as fitted to its 48 kHz coefficients.
constexpr double kShelfHz = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kHighPassHz = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;

using Lanes = double __attribute__((vector_size(2 * sizeof(double))));
constexpr std::size_t kStateLanes = 6;

// Below this a filter's memory is dropped: a signal fading into digital silence would
// otherwise leave it decaying through subnormal numbers, each many times slower to compute.
constexpr double kNegligible = 1e-150;

}  // namespace

KWeighting::KWeighting(unsigned channels, unsigned sampleRate)
    : channels_(channels), state_((channels + 1) / 2 * kStateLanes * 2, 0.0)
{
    const double fs = sampleRate;
    if (2.0 * kShelfHz < fs) {
        const double k = std::tan(kPi * kShelfHz / fs);
        const double vh = std::pow(10.0, kShelfGainDb / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / kShelfQ + k * k;
        shelf_ = {(vh + vb * k / kShelfQ + k * k) / a0, 2.0 * (k * k - vh) / a0,
                  (vh - vb * k / kShelfQ + k * k) / a0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / kShelfQ + k * k) / a0};
    }
    if (2.0 * kHighPassHz < fs) {
        const double k = std::tan(kPi * kHighPassHz / fs);
        const double a0 = 1.0 + k / kHighPassQ + k * k;
        // The high-pass keeps the 1, -2, 1 numerator unscaled, as BS.1770 states it.
        highPass_ = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / kHighPassQ + k * k) / a0};
    }
}

template <bool Pair>
void KWeighting::run(unsigned first, const double* frames, std::size_t count, double* sums)
{
    auto lanes = [](double v) { return Lanes{v, v}; };
    const Lanes b0 = lanes(shelf_.b0), b1 = lanes(shelf_.b1), b2 = lanes(shelf_.b2);
    const Lanes a1 = lanes(shelf_.a1), a2 = lanes(shelf_.a2);
    const Lanes h1 = lanes(highPass_.b1), h2 = lanes(highPass_.b2);  // its b0 is 1
    const Lanes c1 = lanes(highPass_.a1), c2 = lanes(highPass_.a2);
    double* state = state_.data() + first / 2 * kStateLanes * 2;
    Lanes m[kStateLanes];
    for (std::size_t i = 0; i < kStateLanes; ++i)
        m[i] = Lanes{state[2 * i], state[2 * i + 1]};
    auto [x1, x2, y1, y2, z1, z2] = m;
    Lanes sum{};
    const double* in = frames + first;
    for (std::size_t i = 0; i < count; ++i, in += channels_) {
        const Lanes x{in[0], Pair ? in[1] : 0.0};
        // Direct form I, the feedback added last: the chain from one frame to the next is
        // that multiply and subtraction alone.
        const Lanes y = (((b0 * x + b1 * x1) + b2 * x2) - a2 * y2) - a1 * y1;
        const Lanes z = (((y + h1 * y1) + h2 * y2) - c2 * z2) - c1 * z1;
        sum += z * z;
        x2 = x1, x1 = x, y2 = y1, y1 = y, z2 = z1, z1 = z;
    }
    const Lanes after[kStateLanes] = {x1, x2, y1, y2, z1, z2};
    for (std::size_t i = 0; i < kStateLanes; ++i)
        for (std::size_t lane = 0; lane < 2; ++lane)
            state[2 * i + lane] = std::fabs(after[i][lane]) < kNegligible ? 0.0 : after[i][lane];
    sums[first] += sum[0];
    if (Pair)
        sums[first + 1] += sum[1];
}

void KWeighting::addSquares(const double* frames, std::size_t count, double* sums)
{
    for (unsigned c = 0; c < channels_; c += 2) {
        if (c + 1 < channels_)
            run<true>(c, frames, count, sums);
        else
            run<false>(c, frames, count, sums);
    }
}
