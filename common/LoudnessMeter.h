#pragma once

#include "BlockHistogram.h"

#include <ebur128.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Integrated loudness (BS.1770 K-weighting and gating) of one signal, by libebur128. The
// gating blocks go into libebur128's histogram, so memory stays the same whatever the
// length; its 0.1 LU bins are finer than the 0.05 dB that the normaliser ever acts on.
// Takes interleaved samples on the -1..1 scale, from any source.
class LoudnessMeter {
public:
    // ForReport adds the loudness range and keeps the loudness of every gating block.
    // LoudnessAndReport is LoudnessOnly and ForReport at once, over one filtering: its
    // integratedLoudness() is LoudnessOnly's, the blocks' own gating gives ForReport's.
    enum class Measures { LoudnessAndPeak, LoudnessOnly, ForReport, LoudnessAndReport };

    // speakerMask: the speaker positions of the channels in order (the WAVE_FORMAT_EXTENSIBLE
    // bits, which FFmpeg's channel layouts share), 0 for the usual order of the count.
    // Throws std::runtime_error when libebur128 cannot take the channel count or sample rate.
    LoudnessMeter(unsigned channels, unsigned sampleRate, std::uint32_t speakerMask,
                  Measures measures = Measures::LoudnessAndPeak);

    // Throws std::runtime_error when libebur128 runs out of memory.
    void addFrames(const double* frames, std::size_t count);

    // LUFS; -infinity when no block passes the gates (silence, or under 400 ms).
    double integratedLoudness() const;
    // LU, as EBU Tech 3342 defines it (ForReport, LoudnessAndReport; 0 otherwise).
    double loudnessRange() const;
    // The gating blocks so far, in the bins the meter gates them in (ForReport,
    // LoudnessAndReport; empty otherwise).
    const BlockHistogram& blocks() const { return blocks_; }
    // Highest of libebur128's own true and sample peak over every channel (LFE included),
    // linear: a second opinion. The normaliser's true peak is TruePeakMeter's, the one its
    // limiter holds.
    double truePeak() const;

    // The loudness of several signals gated together, as one programme (not for ForReport
    // meters: their blocks() merge to the same).
    static double jointLoudness(const std::vector<const LoudnessMeter*>& meters);

private:
    struct Destroy {
        void operator()(ebur128_state* state) const;
    };
    void add(const double* frames, std::size_t count);

    std::unique_ptr<ebur128_state, Destroy> state_;
    unsigned channels_;
    bool keepBlocks_ = false;
    bool gateBlocks_ = false;      // integratedLoudness() gates the kept blocks
    std::size_t blockStep_ = 0;    // frames between the starts of two blocks (100 ms)
    std::size_t toNextBlock_ = 0;  // frames until the meter completes its next block
    BlockHistogram blocks_;
};
