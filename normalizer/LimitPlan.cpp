#include "normalizer/LimitPlan.h"

#include "normalizer/LimitedStream.h"
#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"
#include "normalizer/WavParser.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <vector>

namespace limit_plan {

namespace {

// Raising the gain into a limiter raises the loudness by less than the gain, never more.
constexpr double kFlattestSlope = 0.1;
// Signals whose peaks are dense (noise) hardly get louder with more gain; beyond this the
// limiter would only flatten them.
constexpr double kMostExtraGainDb = 9.0;

double toDb(double linear)
{
    return 20.0 * std::log10(linear);
}

}  // namespace

double limiterCeiling(double ceilingDbtp, const gain_rules::Levels& levels)
{
    return std::max(std::pow(10.0, (ceilingDbtp - kMeterMarginDb) / 20.0) - levels.quantisationHeadroom, 1e-6);
}

double nextGain(const Trial& last, const Trial* previous, double wantedLufs)
{
    double slope = 1.0;
    if (previous && last.gainDb != previous->gainDb)
        slope = std::clamp((last.lufs - previous->lufs) / (last.gainDb - previous->gainDb), kFlattestSlope, 1.0);
    return last.gainDb + (wantedLufs - last.lufs) / slope;
}

Plan find(const std::string& path, const FileAnalysis& analysis, double wantedLufs, double ceilingDbtp)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        throw WavError(systemReason("cannot open", errno));
    const WavLayout layout = wav_parser::parse(fd.get());
    const WavFormat& format = layout.format;
    const double ceiling = limiterCeiling(ceilingDbtp, analysis.levels);
    std::vector<double> limited;

    auto measure = [&](double gainDb, double& deepest) {
        LoudnessMeter meter(format, LoudnessMeter::Measures::LoudnessOnly);
        deepest = limited_stream::run(fd.get(), layout, gainDb, ceiling,
                                      [&](std::uint8_t*, const double* samples, const double* gains, std::size_t frames) {
                                          limited.resize(frames * format.channels);
                                          for (std::size_t i = 0; i < limited.size(); ++i)
                                              limited[i] = samples[i] * gains[i / format.channels];
                                          meter.addFrames(limited.data(), frames);
                                      });
        return meter.integratedLoudness();
    };

    Trial best{wantedLufs - analysis.levels.loudnessLufs, 0};
    double bestDeepest = 1.0;
    best.lufs = measure(best.gainDb, bestDeepest);
    Trial last = best, previous = best;
    for (int trial = 1; trial < kMostTrials && std::fabs(best.lufs - wantedLufs) > kTolerance; ++trial) {
        const double firstGain = wantedLufs - analysis.levels.loudnessLufs;
        Trial next{std::min(nextGain(last, trial > 1 ? &previous : nullptr, wantedLufs), firstGain + kMostExtraGainDb), 0};
        if (next.gainDb == last.gainDb)
            break;
        double deepest = 1.0;
        next.lufs = measure(next.gainDb, deepest);
        if (!std::isfinite(next.lufs))
            break;
        previous = last;
        last = next;
        if (std::fabs(next.lufs - wantedLufs) < std::fabs(best.lufs - wantedLufs)) {
            best = next;
            bestDeepest = deepest;
        }
    }
    return Plan{best.gainDb, toDb(bestDeepest)};
}

}  // namespace limit_plan
