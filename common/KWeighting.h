#pragma once

#include <cstddef>
#include <vector>

// BS.1770's K-weighting of every channel of a signal: a high shelf, then a high-pass, each
// derived from its analogue definition by the bilinear transform, so that any sample rate
// takes it. Channels are filtered in pairs, side by side in the lanes of one vector, and each
// stage keeps its feedback to one multiply and one subtraction per frame: the filter is the
// meter's hot loop.
class KWeighting {
public:
    // At a rate too low to hold a stage's corner (under 3.4 kHz for the shelf, 77 Hz for the
    // high-pass), that stage is left out: the transform cannot place it, and the result stays
    // finite for whatever a file claims.
    KWeighting(unsigned channels, unsigned sampleRate);

    // Filters count interleaved frames, continuing the signal, and adds each channel's squared
    // output to sums[channel].
    void addSquares(const double* frames, std::size_t count, double* sums);

private:
    struct Stage {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;  // a0 normalised to 1; passes the signal as is
    };

    template <bool Pair>
    void run(unsigned first, const double* frames, std::size_t count, double* sums);

    unsigned channels_;
    Stage shelf_;
    Stage highPass_;
    // Per pair of channels, two lanes each: the last two inputs, shelf outputs and outputs.
    std::vector<double> state_;
};
