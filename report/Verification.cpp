#include "report/Verification.h"

#include <charconv>
#include <cmath>

namespace verification {

namespace {

using conversion_command::VolumeMode;

// "-14.2" ("-inf" for silence), as the reasons show figures.
std::string figure(double value)
{
    char text[512];  // any double in fixed notation
    char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1).ptr;
    return std::string(text, end);
}

Verdict missed(std::string reason) { return Verdict{false, std::move(reason)}; }

Verdict checkPeak(double peak, double limit, const char* what, const char* unit)
{
    if (peak <= limit + 1e-9)
        return {};
    return missed(std::string(what) + " " + figure(peak) + " " + unit + " is over " + figure(limit) + " " + unit);
}

}  // namespace

Verdict check(const loudness_plan::Settings& settings, const loudness_plan::Row& row, const Measurement& source,
              const Measurement& output, bool lossyOutput)
{
    const double allowance = lossyOutput ? kLossyPeakAllowanceDb : 0.0;
    if (settings.mode == VolumeMode::PeakTrackGain)
        return checkPeak(output.samplePeakDbfs, allowance, "sample peak", "dBFS");
    if (settings.mode == VolumeMode::ChangePercent || settings.mode == VolumeMode::ChangeGain) {
        if (!std::isfinite(row.gainDb))
            return {};  // 0 %: nothing is left to measure
        const bool byLoudness = std::isfinite(source.integratedLufs);
        const double before = byLoudness ? source.integratedLufs : source.samplePeakDbfs;
        const double after = byLoudness ? output.integratedLufs : output.samplePeakDbfs;
        if (!std::isfinite(before) || std::fabs(after - before - row.gainDb) <= kGainToleranceDb)
            return {};
        return missed(std::string(byLoudness ? "loudness" : "sample peak") + " changed by " +
                      figure(after - before) + " dB, not " + figure(row.gainDb) + " dB");
    }
    if (row.loudnessAfterLufs && !(std::fabs(output.integratedLufs - *row.loudnessAfterLufs) <= kLevelToleranceLu))
        return missed("loudness " + figure(output.integratedLufs) + " LUFS is not within " + figure(kLevelToleranceLu) +
                      " LU of " + figure(*row.loudnessAfterLufs) + " LUFS");
    return checkPeak(output.truePeakDbtp, settings.ceilingDbtp + allowance, "true peak", "dBTP");
}

bool leaveUnchanged(const loudness_plan::Row& row, double skipWithinDb, bool formatConverting)
{
    return row.planned && !formatConverting && !row.limited && !row.peakLimited &&
           std::fabs(row.gainDb) < skipWithinDb;
}

}  // namespace verification
