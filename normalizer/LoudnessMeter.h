#pragma once

#include "normalizer/WavFormat.h"

#include <ebur128.h>

#include <cstddef>
#include <memory>
#include <vector>

// Integrated loudness (BS.1770 K-weighting and gating) and true peak of one signal,
// by libebur128. The gating blocks go into libebur128's histogram, so memory stays the
// same whatever the length; its 0.1 LU bins are finer than the 0.05 dB that the
// normaliser ever acts on.
class LoudnessMeter {
public:
    enum class Measures { LoudnessAndPeak, LoudnessOnly };

    // Throws WavError when libebur128 cannot take the channel count or sample rate.
    explicit LoudnessMeter(const WavFormat& format, Measures measures = Measures::LoudnessAndPeak);

    // Interleaved samples on the -1..1 scale.
    void addFrames(const double* frames, std::size_t count);

    // LUFS; -infinity when no block passes the gates (silence, or under 400 ms).
    double integratedLoudness() const;
    // Highest of true and sample peak over every channel (LFE included), linear.
    double truePeak() const;

    // The loudness of several signals gated together, as one programme.
    static double jointLoudness(const std::vector<const LoudnessMeter*>& meters);

private:
    struct Destroy {
        void operator()(ebur128_state* state) const;
    };
    std::unique_ptr<ebur128_state, Destroy> state_;
    unsigned channels_;
};
