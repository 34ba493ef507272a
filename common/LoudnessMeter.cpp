#include "LoudnessMeter.h"

#include "ChannelMap.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

constexpr unsigned kMostChannels = 64;
constexpr unsigned kLowestRate = 16;
constexpr unsigned kHighestRate = 2822400;

double lufsOf(double energy) { return 10.0 * std::log10(energy) - 0.691; }

KWeighting filterFor(unsigned channels, unsigned sampleRate)
{
    if (channels == 0 || channels > kMostChannels || sampleRate < kLowestRate || sampleRate > kHighestRate)
        throw std::runtime_error("unsupported: " + std::to_string(channels) + " channels at " +
                                 std::to_string(sampleRate) + " Hz cannot be measured");
    return KWeighting(channels, sampleRate);
}

}  // namespace

LoudnessMeter::LoudnessMeter(unsigned channels, unsigned sampleRate, std::uint32_t speakerMask, Measures measures)
    : filter_(filterFor(channels, sampleRate)),
      weights_(channel_map::weights(channels, speakerMask)),
      squares_(channels, 0.0),
      stepFrames_((sampleRate + 5) / 10),  // 100 ms, rounded
      toStepEnd_(stepFrames_),
      range_(measures == Measures::ForReport || measures == Measures::LoudnessAndReport)
{
}

void LoudnessMeter::addFrames(const double* frames, std::size_t count)
{
    const std::size_t channels = squares_.size();
    while (count > 0) {
        const std::size_t part = std::min(count, toStepEnd_);
        filter_.addSquares(frames, part, squares_.data());
        frames += part * channels;
        count -= part;
        toStepEnd_ -= part;
        if (toStepEnd_ == 0) {
            endStep();
            toStepEnd_ = stepFrames_;
        }
    }
}

void LoudnessMeter::endStep()
{
    double sum = 0;
    for (std::size_t c = 0; c < squares_.size(); ++c)
        sum += weights_[c] * squares_[c];
    std::fill(squares_.begin(), squares_.end(), 0.0);
    steps_[stepCount_ % kShortTermSteps] = sum;
    ++stepCount_;
    if (stepCount_ >= kBlockSteps)
        blocks_.addBlock(lufsOf(energyOfLast(kBlockSteps)));
    if (range_ && stepCount_ >= kShortTermSteps && (stepCount_ - kShortTermSteps) % kShortTermEvery == 0)
        shortTerm_.addBlock(lufsOf(energyOfLast(kShortTermSteps)));
}

double LoudnessMeter::energyOfLast(std::size_t steps) const
{
    double sum = 0;
    for (std::size_t i = stepCount_ - steps; i < stepCount_; ++i)
        sum += steps_[i % kShortTermSteps];
    return sum / static_cast<double>(steps * stepFrames_);
}

double LoudnessMeter::jointLoudness(const std::vector<const LoudnessMeter*>& meters)
{
    BlockHistogram together;
    for (const LoudnessMeter* meter : meters)
        together.merge(meter->blocks_);
    return together.integratedLoudness();
}
