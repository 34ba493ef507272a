#include "LoudnessMeter.h"

#include "ChannelMap.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

void LoudnessMeter::Destroy::operator()(ebur128_state* state) const
{
    ebur128_destroy(&state);
}

LoudnessMeter::LoudnessMeter(unsigned channels, unsigned sampleRate, std::uint32_t speakerMask, Measures measures)
    : channels_(channels),
      keepBlocks_(measures == Measures::ForReport || measures == Measures::LoudnessAndReport),
      gateBlocks_(measures == Measures::ForReport)
{
    int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM;
    if (measures == Measures::LoudnessAndPeak)
        mode |= EBUR128_MODE_TRUE_PEAK;
    else if (measures == Measures::ForReport)  // the blocks are gated here, not twice
        mode = EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM;
    else if (measures == Measures::LoudnessAndReport)
        mode |= EBUR128_MODE_LRA;
    state_.reset(ebur128_init(channels, sampleRate, mode));
    if (!state_)
        throw std::runtime_error("unsupported: " + std::to_string(channels) + " channels at " +
                                 std::to_string(sampleRate) + " Hz cannot be measured");
    std::vector<int> types = channel_map::ebur128Channels(channels, speakerMask);
    for (unsigned c = 0; c < channels_; ++c)
        ebur128_set_channel(state_.get(), c, types[c]);
    // The meter's block grid: its first block after 400 ms, then one every 100 ms (rounded).
    blockStep_ = (sampleRate + 5) / 10;
    toNextBlock_ = 4 * blockStep_;
}

void LoudnessMeter::add(const double* frames, std::size_t count)
{
    if (ebur128_add_frames_double(state_.get(), frames, count) != EBUR128_SUCCESS)
        throw std::runtime_error("out of memory while measuring");
}

void LoudnessMeter::addFrames(const double* frames, std::size_t count)
{
    if (!keepBlocks_) {
        add(frames, count);
        return;
    }
    // Fed up to each block's end, the meter's momentary loudness is that very block's.
    while (count > 0) {
        const std::size_t part = std::min(count, toNextBlock_);
        add(frames, part);
        frames += part * channels_;
        count -= part;
        toNextBlock_ -= part;
        if (toNextBlock_ == 0) {
            double lufs = -HUGE_VAL;
            ebur128_loudness_momentary(state_.get(), &lufs);
            blocks_.addBlock(lufs);
            toNextBlock_ = blockStep_;
        }
    }
}

double LoudnessMeter::integratedLoudness() const
{
    if (gateBlocks_)
        return blocks_.integratedLoudness();
    double lufs = -HUGE_VAL;
    ebur128_loudness_global(state_.get(), &lufs);
    return lufs;
}

double LoudnessMeter::loudnessRange() const
{
    double range = 0;
    if (keepBlocks_)
        ebur128_loudness_range(state_.get(), &range);
    return range;
}

double LoudnessMeter::truePeak() const
{
    double peak = 0.0;
    for (unsigned c = 0; c < channels_; ++c) {
        double truePeak = 0.0, samplePeak = 0.0;
        ebur128_true_peak(state_.get(), c, &truePeak);
        ebur128_sample_peak(state_.get(), c, &samplePeak);
        peak = std::max({peak, truePeak, samplePeak});
    }
    return peak;
}

double LoudnessMeter::jointLoudness(const std::vector<const LoudnessMeter*>& meters)
{
    if (meters.empty())
        return -HUGE_VAL;
    std::vector<ebur128_state*> states;
    for (const LoudnessMeter* meter : meters)
        states.push_back(meter->state_.get());
    double lufs = -HUGE_VAL;
    ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
    return lufs;
}
