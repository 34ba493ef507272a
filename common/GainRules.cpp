#include "GainRules.h"

#include "Decibels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gain_rules {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Far beyond what any file needs: the absolute gate stops loudness at -70 LUFS.
constexpr double kLargestGainDb = 200.0;

std::string unmeasuredReason(Status status)
{
    return status == Status::Silent ? "silent" : "too short to measure";
}

Decision finish(double gainDb, double limitDb, bool limitPeaks)
{
    Decision d;
    if (limitPeaks) {
        d.limit = gainDb > limitDb;
        d.gainDb = gainDb;
    } else {
        d.peakLimited = gainDb > limitDb;
        d.gainDb = std::min(gainDb, limitDb);
    }
    // Float samples beyond any real level (or NaN) measure as an infinite or absurd peak or
    // loudness; such a gain would silence the file or fill it with NaN.
    if (!std::isfinite(d.gainDb) || std::fabs(d.gainDb) > kLargestGainDb || limitDb < -kLargestGainDb) {
        d.gainDb = 0;
        d.peakLimited = d.limit = false;
        d.reason = "no finite gain for its levels";
        return d;
    }
    d.apply = d.limit || std::fabs(d.gainDb) >= kSmallestGainDb;
    if (!d.apply)
        d.reason = "gain below 0.05 dB";
    return d;
}

}  // namespace

Status statusOf(double seconds, double loudnessLufs)
{
    if (seconds < kShortestSeconds)
        return Status::TooShort;
    return std::isfinite(loudnessLufs) ? Status::Measured : Status::Silent;
}

double quantisationHeadroom(int integerBits)
{
    if (integerBits <= 0)
        return 0.0;
    const double steps = integerBits <= 16 ? 1.5 : 0.5;
    return steps * std::ldexp(1.0, 1 - integerBits);
}

double peakLimitDb(const Levels& levels, double ceilingDbtp)
{
    if (levels.truePeak <= 0)
        return kInfinity;
    // A ceiling under what requantising adds (a low one at 8 bits) still gives a finite
    // gain, so low that the file is left alone.
    double room = decibels::fromDb(ceilingDbtp) - levels.quantisationHeadroom;
    return decibels::toDb(std::max(room, 1e-9) / levels.truePeak);
}

double limiterCeiling(double ceilingDbtp, const Levels& levels)
{
    return std::max(decibels::fromDb(ceilingDbtp - kLimiterMarginDb) - levels.quantisationHeadroom, 1e-6);
}

double weightedMeanLufs(const std::vector<Levels>& files)
{
    double sum = 0, weight = 0;
    for (const Levels& f : files)
        if (f.status == Status::Measured) {
            sum += f.loudnessLufs * f.seconds;
            weight += f.seconds;
        }
    return weight > 0 ? sum / weight : -kInfinity;
}

double arithmeticMeanLufs(const std::vector<Levels>& files)
{
    double sum = 0;
    int count = 0;
    for (const Levels& f : files)
        if (f.status == Status::Measured) {
            sum += f.loudnessLufs;
            ++count;
        }
    return count > 0 ? sum / count : -kInfinity;
}

std::vector<Decision> decide(Mode mode, const std::vector<Levels>& files, double jointLufs,
                             const Settings& settings)
{
    std::vector<Decision> decisions(files.size());
    if (mode == Mode::Album && settings.limitPeaks) {
        // One gain for the set; each file limited only where its own peaks need it.
        for (std::size_t i = 0; i < files.size(); ++i)
            decisions[i] = finish(settings.targetLufs - jointLufs, peakLimitDb(files[i], settings.ceilingDbtp), true);
    } else if (mode == Mode::Album) {
        // One gain for the set, lowered until its loudest peak fits under the ceiling.
        double limitDb = kInfinity;
        for (const Levels& f : files)
            if (f.status == Status::Measured)
                limitDb = std::min(limitDb, peakLimitDb(f, settings.ceilingDbtp));
        Decision shared = finish(settings.targetLufs - jointLufs, limitDb, false);
        for (std::size_t i = 0; i < files.size(); ++i)
            decisions[i] = shared;
    } else {
        double level = settings.targetLufs;
        if (mode == Mode::WeightedMean)
            level = weightedMeanLufs(files);
        else if (mode == Mode::ArithmeticMean)
            level = arithmeticMeanLufs(files);
        for (std::size_t i = 0; i < files.size(); ++i)
            decisions[i] = finish(level - files[i].loudnessLufs, peakLimitDb(files[i], settings.ceilingDbtp),
                                  settings.limitPeaks);
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].status != Status::Measured)
            decisions[i] = Decision{false, 0, false, false, unmeasuredReason(files[i].status)};
    return decisions;
}

}  // namespace gain_rules
