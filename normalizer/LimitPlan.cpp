#include "normalizer/LimitPlan.h"

#include "Decibels.h"
#include "normalizer/LimitedStream.h"
#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"
#include "normalizer/WavParser.h"
#include "normalizer/WavRewriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <vector>

namespace limit_plan {

namespace {

// Raising the gain into a limiter raises the loudness by less than the gain, never more.
constexpr double kFlattestSlope = 0.1;
// How much louder a limited file gets per dB of gain, before two trials tell.
constexpr double kFirstSlope = 0.85;
// Signals whose peaks are dense (noise) hardly get louder with more gain; beyond this the
// limiter would only flatten them.
constexpr double kMostExtraGainDb = 9.0;

}  // namespace

double nextGain(const Trial& last, const Trial* previous, double wantedLufs)
{
    double slope = kFirstSlope;
    if (previous && last.gainDb != previous->gainDb)
        slope = std::clamp((last.lufs - previous->lufs) / (last.gainDb - previous->gainDb), kFlattestSlope, 1.0);
    return last.gainDb + (wantedLufs - last.lufs) / slope;
}

Plan apply(const std::string& path, const FileAnalysis& analysis, double wantedLufs, double ceilingDbtp)
{
    const WavFormat& format = analysis.layout.format;
    const double ceiling = gain_rules::limiterCeiling(ceilingDbtp, analysis.levels);
    const double firstGain = wantedLufs - analysis.levels.loudnessLufs;

    Trial last{firstGain, 0};
    {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid())
            throw WavError(systemReason("cannot open", errno));
        const WavLayout layout = wav_parser::parse(fd.get());
        LoudnessMeter meter = file_analysis::loudnessMeter(format);
        std::vector<double> limited;
        limited_stream::run(fd.get(), layout, firstGain, ceiling,
                            [&](std::uint8_t*, const double* samples, const double* gains, std::size_t frames) {
                                limited_stream::applyGains(samples, gains, frames, format.channels, limited);
                                meter.addFrames(limited.data(), frames);
                            });
        last.lufs = meter.integratedLoudness();
    }
    Trial previous = last;
    Trial best = last;
    for (int trial = 1;; ++trial) {
        const bool closeEnough = std::fabs(last.lufs - wantedLufs) <= kTolerance;
        double gainDb = last.gainDb;
        if (trial == kMostTrials - 1)
            gainDb = best.gainDb;
        else if (!closeEnough && std::isfinite(last.lufs))
            gainDb = std::min(nextGain(last, trial > 1 ? &previous : nullptr, wantedLufs), firstGain + kMostExtraGainDb);
        Trial next{gainDb, 0};
        const bool final = closeEnough || trial == kMostTrials - 1 || gainDb == last.gainDb;
        double deepest = 1.0;
        wav_rewriter::LoudnessCheck check = [&](double lufs) {
            next.lufs = lufs;
            return std::fabs(lufs - wantedLufs) <= kTolerance;
        };
        // The last trial is written whatever it measures: nothing to measure.
        bool written = wav_rewriter::rewrite(path, analysis.identity, gainDb, ceiling,
                                             final ? wav_rewriter::LoudnessCheck{} : check, &deepest);
        if (written)
            return Plan{gainDb, decibels::toDb(deepest)};
        previous = last;
        last = next;
        if (std::fabs(next.lufs - wantedLufs) < std::fabs(best.lufs - wantedLufs))
            best = next;
    }
}

}  // namespace limit_plan
