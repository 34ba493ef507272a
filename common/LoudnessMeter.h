#pragma once

#include "BlockHistogram.h"
#include "KWeighting.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Integrated loudness (BS.1770 K-weighting and gating) of one signal. The gating blocks are
// counted in a histogram, so memory stays the same whatever the length; its 0.1 LU bins are
// finer than the 0.05 dB that the normaliser ever acts on. Takes interleaved samples on the
// -1..1 scale, from any source.
class LoudnessMeter {
public:
    // ForReport adds the loudness range. LoudnessAndReport is LoudnessOnly and ForReport at
    // once: all gate the same blocks, so their integratedLoudness() agree.
    enum class Measures { LoudnessOnly, ForReport, LoudnessAndReport };

    // speakerMask: the speaker positions of the channels in order (the WAVE_FORMAT_EXTENSIBLE
    // bits, which FFmpeg's channel layouts share), 0 for the usual order of the count.
    // Throws std::runtime_error for a channel count or sample rate it cannot take.
    LoudnessMeter(unsigned channels, unsigned sampleRate, std::uint32_t speakerMask,
                  Measures measures = Measures::LoudnessOnly);

    void addFrames(const double* frames, std::size_t count);

    // LUFS; -infinity when no block passes the gates (silence, or under 400 ms).
    double integratedLoudness() const { return blocks_.integratedLoudness(); }
    // LU, as EBU Tech 3342 defines it (ForReport, LoudnessAndReport; 0 otherwise).
    double loudnessRange() const { return shortTerm_.loudnessRange(); }
    // The gating blocks so far, in the bins the meter gates them in.
    const BlockHistogram& blocks() const { return blocks_; }

    // The loudness of several signals gated together, as one programme.
    static double jointLoudness(const std::vector<const LoudnessMeter*>& meters);

private:
    // A block of 400 ms every 100 ms step, and for the range one of 3 s every second.
    static constexpr std::size_t kBlockSteps = 4;
    static constexpr std::size_t kShortTermSteps = 30;
    static constexpr std::size_t kShortTermEvery = 10;

    void endStep();
    double energyOfLast(std::size_t steps) const;

    KWeighting filter_;
    std::vector<double> weights_;  // of each channel's energy
    std::vector<double> squares_;  // each channel's sum of squares in the current step
    std::size_t stepFrames_;
    std::size_t toStepEnd_;
    std::array<double, kShortTermSteps> steps_{};  // the last steps' weighted sums, a ring
    std::uint64_t stepCount_ = 0;
    bool range_;
    BlockHistogram blocks_;
    BlockHistogram shortTerm_;
};
