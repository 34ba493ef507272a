#include "report/Verification.h"

#include <algorithm>
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
    // Every promise missed is named, so that a correction can mend them all at once.
    Verdict verdict = checkPeak(output.truePeakDbtp, settings.ceilingDbtp + allowance, "true peak", "dBTP");
    if (row.loudnessAfterLufs && !(std::fabs(output.integratedLufs - *row.loudnessAfterLufs) <= kLevelToleranceLu)) {
        const std::string loudness = "loudness " + figure(output.integratedLufs) + " LUFS is not within "
                                     + figure(kLevelToleranceLu) + " LU of " + figure(*row.loudnessAfterLufs)
                                     + " LUFS";
        verdict = missed(verdict.pass ? loudness : loudness + "; " + verdict.reason);
    }
    return verdict;
}

std::optional<Correction> correction(const loudness_plan::Settings& settings, const loudness_plan::Row& row,
                                     const Measurement& output, const Verdict& verdict)
{
    if (verdict.pass)
        return std::nullopt;
    Correction mend;
    if (settings.mode == VolumeMode::PeakTrackGain) {
        mend.ceilingDropDb = std::isfinite(output.samplePeakDbfs) ? std::max(0.0, output.samplePeakDbfs) : 0.0;
    } else if (conversion_command::isRmsMode(settings.mode)) {
        if (row.loudnessAfterLufs && std::isfinite(output.integratedLufs)
            && std::fabs(output.integratedLufs - *row.loudnessAfterLufs) > kLevelToleranceLu)
            mend.gainDb = *row.loudnessAfterLufs - output.integratedLufs;
        // Any peak over the ceiling itself: the limiter is to leave the encoder that much room.
        if (std::isfinite(output.truePeakDbtp))
            mend.ceilingDropDb = std::max(0.0, output.truePeakDbtp - settings.ceilingDbtp);
    } else {
        return std::nullopt;  // a gain was promised, not a level: nothing to aim at again
    }
    if (mend.gainDb == 0 && mend.ceilingDropDb == 0)
        return std::nullopt;
    return mend;
}

bool leaveUnchanged(const loudness_plan::Row& row, double skipWithinDb, bool formatConverting)
{
    return row.planned && !formatConverting && !row.limited && !row.peakLimited &&
           std::fabs(row.gainDb) < skipWithinDb;
}

}  // namespace verification
