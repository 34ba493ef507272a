#include "TruePeakMeter.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kTapsPerPhase = 12;  // 48 taps at 4x, as BS.1770 measures true peak
// Runs at least as long as the filter, so that a run and the one before it cover every
// frame a phase reads.
constexpr std::size_t kRunFrames = 64;
// A single-precision sum of 12 products (their inputs rounded too) differs from the exact sum
// by at most 14 units of rounding (2^-24) times the sum of the products' magnitudes; the slack
// is four times that. Below kTiny, where floats lose their relative precision, nothing matters.
constexpr double kEstimateSlack = 4 * 14 * 0x1p-24;
constexpr double kTiny = 1e-30;
// Above this, floats could overflow: such runs are summed exactly.
constexpr double kEstimateLimit = 1e30;
// A run with more frames than this near the peak so far is summed exactly all at once.
constexpr int kFewFrames = 8;

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

// The interpolator's kernels, written once for any width of vector register and built for
// three: each processor runs the widest it has (as one vector type of fixed width would be
// split through memory on a narrower one). Each frame's sum runs in the order of its taps in
// every width, so the figures are the same to the bit on every processor.
template <std::size_t Bytes>
struct Kernels {
    typedef double Doubles __attribute__((vector_size(Bytes)));
    typedef float Floats __attribute__((vector_size(Bytes)));
    static constexpr std::size_t kDoubles = Bytes / sizeof(double);
    static constexpr std::size_t kFloats = Bytes / sizeof(float);
    static constexpr std::size_t kChains = 4;  // vectors summed side by side, to keep the unit busy

    // The magnitude of one phase between each of `count` frames and the next, raised into peaks.
    [[gnu::always_inline]] static void phasePeaks(const double* line, const double* a, std::size_t taps,
                                                  std::size_t count, double* peaks)
    {
        constexpr std::size_t kBlock = kChains * kDoubles;
        std::size_t i = 0;
        for (; i + kBlock <= count; i += kBlock) {
            Doubles sums[kChains] = {};
            for (std::size_t q = 0; q < taps; ++q) {
                const Doubles tap = a[q] - Doubles{};  // a[q] in every lane
                for (std::size_t l = 0; l < kChains; ++l) {
                    Doubles x;
                    std::memcpy(&x, line + i + q + l * kDoubles, sizeof x);
                    sums[l] += tap * x;
                }
            }
            for (std::size_t l = 0; l < kChains; ++l) {
                Doubles peak;
                std::memcpy(&peak, peaks + i + l * kDoubles, sizeof peak);
                const Doubles magnitude = sums[l] < 0 ? -sums[l] : sums[l];
                peak = peak < magnitude ? magnitude : peak;  // std::max, lane by lane
                std::memcpy(peaks + i + l * kDoubles, &peak, sizeof peak);
            }
        }
        for (; i < count; ++i) {
            double sum = 0.0;
            for (std::size_t q = 0; q < taps; ++q)
                sum += a[q] * line[i + q];
            peaks[i] = std::max(peaks[i], std::fabs(sum));
        }
    }

    // Which of `count` frames (at most 64) may peak above `threshold`, as a bit mask: the
    // frame's own sample and every phase after it, summed in single precision. A frame left
    // out has no phase above threshold + kEstimateSlack (see TruePeakMeter::measureRun).
    [[gnu::always_inline]] static std::uint64_t framesNear(const float* line, const float* a, std::size_t phases,
                                                           std::size_t taps, std::size_t centre, std::size_t count,
                                                           float threshold)
    {
        constexpr std::size_t kBlock = kChains * kFloats;
        std::uint64_t near = 0;
        std::size_t i = 0;
        for (; i + kBlock <= count; i += kBlock) {
            Floats largest[kChains];
            for (std::size_t l = 0; l < kChains; ++l) {
                std::memcpy(&largest[l], line + i + l * kFloats + centre, sizeof largest[l]);
                largest[l] = largest[l] < 0 ? -largest[l] : largest[l];
            }
            for (std::size_t k = 0; k < phases; ++k) {
                Floats sums[kChains] = {};
                for (std::size_t q = 0; q < taps; ++q) {
                    const Floats tap = a[k * taps + q] - Floats{};
                    for (std::size_t l = 0; l < kChains; ++l) {
                        Floats x;
                        std::memcpy(&x, line + i + q + l * kFloats, sizeof x);
                        sums[l] += tap * x;
                    }
                }
                for (std::size_t l = 0; l < kChains; ++l) {
                    const Floats magnitude = sums[l] < 0 ? -sums[l] : sums[l];
                    largest[l] = largest[l] < magnitude ? magnitude : largest[l];
                }
            }
            float estimates[kBlock];
            std::memcpy(estimates, largest, sizeof estimates);
            for (std::size_t j = 0; j < kBlock; ++j)
                near |= std::uint64_t(estimates[j] > threshold) << (i + j);
        }
        for (; i < count; ++i) {
            float largest = std::fabs(line[i + centre]);
            for (std::size_t k = 0; k < phases; ++k) {
                float sum = 0;
                for (std::size_t q = 0; q < taps; ++q)
                    sum += a[k * taps + q] * line[i + q];
                largest = std::max(largest, std::fabs(sum));
            }
            near |= std::uint64_t(largest > threshold) << i;
        }
        return near;
    }

    // The largest magnitude of n samples (NaN ignored, as std::max does), several lanes at
    // once rather than one chain of comparisons.
    [[gnu::always_inline]] static double largestMagnitude(const double* x, std::size_t n)
    {
        Doubles largest{};
        std::size_t i = 0;
        for (; i + kDoubles <= n; i += kDoubles) {
            Doubles v;
            std::memcpy(&v, x + i, sizeof v);
            const Doubles magnitude = v < 0 ? -v : v;
            largest = largest < magnitude ? magnitude : largest;
        }
        double lanes[kDoubles];
        std::memcpy(lanes, &largest, sizeof lanes);
        double result = 0.0;
        for (double lane : lanes)
            result = std::max(result, lane);
        for (; i < n; ++i)
            result = std::max(result, std::fabs(x[i]));
        return result;
    }
};

// One entry per kernel and width; the target attribute makes the inlined kernel use that width.
#define AURALON_PEAK_KERNELS(NAME, BYTES, ...)                                                          \
    __VA_ARGS__ void phasePeaks##NAME(const double* line, const double* a, std::size_t taps,             \
                                      std::size_t count, double* peaks)                                  \
    {                                                                                                    \
        Kernels<BYTES>::phasePeaks(line, a, taps, count, peaks);                                         \
    }                                                                                                    \
    __VA_ARGS__ std::uint64_t framesNear##NAME(const float* line, const float* a, std::size_t phases,    \
                                               std::size_t taps, std::size_t centre, std::size_t count,  \
                                               float threshold)                                          \
    {                                                                                                    \
        return Kernels<BYTES>::framesNear(line, a, phases, taps, centre, count, threshold);              \
    }                                                                                                    \
    __VA_ARGS__ double largestMagnitude##NAME(const double* x, std::size_t n)                            \
    {                                                                                                    \
        return Kernels<BYTES>::largestMagnitude(x, n);                                                   \
    }
AURALON_PEAK_KERNELS(Avx512, 64, [[gnu::target("avx512f")]])
AURALON_PEAK_KERNELS(Avx2, 32, [[gnu::target("avx2")]])
AURALON_PEAK_KERNELS(Baseline, 16)
#undef AURALON_PEAK_KERNELS

struct KernelSet {
    decltype(&phasePeaksBaseline) phasePeaks;
    decltype(&framesNearBaseline) framesNear;
    decltype(&largestMagnitudeBaseline) largestMagnitude;
};

const KernelSet& kernels()
{
    static const KernelSet chosen = __builtin_cpu_supports("avx512f")
                                        ? KernelSet{phasePeaksAvx512, framesNearAvx512, largestMagnitudeAvx512}
                                    : __builtin_cpu_supports("avx2")
                                        ? KernelSet{phasePeaksAvx2, framesNearAvx2, largestMagnitudeAvx2}
                                        : KernelSet{phasePeaksBaseline, framesNearBaseline, largestMagnitudeBaseline};
    return chosen;
}

void phasePeaks(const double* line, const double* a, std::size_t taps, std::size_t count, double* peaks)
{
    kernels().phasePeaks(line, a, taps, count, peaks);
}

double largestMagnitude(const double* x, std::size_t n)
{
    return kernels().largestMagnitude(x, n);
}

// The exact peak of every phase after one frame, summed as phasePeaks sums it.
double exactPhasePeak(const double* line, const double* a, std::size_t phases, std::size_t taps)
{
    double largest = 0.0;
    for (std::size_t k = 0; k < phases; ++k) {
        double sum = 0.0;
        for (std::size_t q = 0; q < taps; ++q)
            sum += a[k * taps + q] * line[q];
        largest = std::max(largest, std::fabs(sum));
    }
    return largest;
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
    coefficientsF_.assign(coefficients_.begin(), coefficients_.end());
    // So that quiet runs of frames need no interpolation.
    for (unsigned k = 0; k + 1 < oversampling_; ++k) {
        double sum = 0.0;
        for (std::size_t q = 0; q < taps; ++q)
            sum += std::fabs(coefficients_[k * taps + q]);
        overshoot_ = std::max(overshoot_, sum);
    }
}

template <class Sample>
void TruePeakMeter::channelLine(unsigned c, const double* frames, std::size_t count, Sample* line) const
{
    // The channel's last frames before the run, then the run: the window of frame i starts at
    // line[i].
    const std::size_t taps = tapsPerPhase_;
    std::copy_n(history_.data() + c * 2 * taps + historyAt_ + 1, taps - 1, line);
    for (std::size_t i = 0; i < count; ++i)
        line[taps - 1 + i] = static_cast<Sample>(frames[i * channels_ + c]);
}

void TruePeakMeter::raisePeaks(const double* line, std::size_t count, double* peaks) const
{
    const std::size_t taps = tapsPerPhase_;
    const std::size_t centre = taps - 1 - taps / 2;  // frame i - taps/2 in its window
    for (std::size_t i = 0; i < count; ++i)
        peaks[i] = std::max(peaks[i], std::fabs(line[i + centre]));
    for (unsigned k = 0; k + 1 < oversampling_; ++k)
        phasePeaks(line, coefficients_.data() + k * taps, taps, count, peaks);
}

void TruePeakMeter::takeRun(const double* frames, std::size_t count, double* peaks)
{
    double line[kTapsPerPhase - 1 + kRunFrames];
    std::fill_n(peaks, count, 0.0);
    for (unsigned c = 0; c < channels_; ++c) {
        channelLine(c, frames, count, line);
        raisePeaks(line, count, peaks);
    }
    skipFrames(frames, count);
}

bool TruePeakMeter::runBelow(const double* frames, std::size_t count, double level)
{
    const double runMax = largestMagnitude(frames, count * channels_);
    windowMax_ = std::max(runMax, previousRunMax_);
    const bool below = windowMax_ * overshoot_ <= level;
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
        } else if (oversampling_ > 1 && truePeak_ > 0 && windowMax_ < kEstimateLimit) {
            measureRun(first, run);
        } else {
            double peaks[kRunFrames];
            takeRun(first, run, peaks);
            truePeak_ = std::max(truePeak_, largestMagnitude(peaks, run));  // peaks are magnitudes
        }
    }
}

void TruePeakMeter::measureRun(const double* frames, std::size_t count)
{
    // A signal at its peak (a steady tone, a limited master) reaches the peak so far in nearly
    // every run, yet few of its frames come near it: single-precision sums find those few, and
    // only they are summed exactly. A frame left out is provably no higher than the peak so
    // far, so the peak is the same to the bit as if every frame had been summed.
    const std::size_t taps = tapsPerPhase_;
    const std::size_t centre = taps - 1 - taps / 2;
    const std::size_t phases = oversampling_ - 1;
    const double below = truePeak_ - (kEstimateSlack * overshoot_ * windowMax_ + kTiny);
    float threshold = static_cast<float>(below);
    if (double(threshold) > below)
        threshold = std::nextafter(threshold, -1.0f);
    float lineF[kTapsPerPhase - 1 + kRunFrames];
    double line[kTapsPerPhase - 1 + kRunFrames];
    double largest = 0.0;
    for (unsigned c = 0; c < channels_; ++c) {
        channelLine(c, frames, count, lineF);
        std::uint64_t near = kernels().framesNear(lineF, coefficientsF_.data(), phases, taps, centre, count, threshold);
        if (!near)
            continue;
        channelLine(c, frames, count, line);
        if (std::popcount(near) > kFewFrames) {
            double peaks[kRunFrames] = {};
            raisePeaks(line, count, peaks);
            largest = std::max(largest, largestMagnitude(peaks, count));
            continue;
        }
        for (; near; near &= near - 1) {
            const auto i = static_cast<std::size_t>(std::countr_zero(near));
            largest = std::max({largest, std::fabs(line[i + centre]),
                                exactPhasePeak(line + i, coefficients_.data(), phases, taps)});
        }
    }
    skipFrames(frames, count);
    truePeak_ = std::max(truePeak_, largest);
}
