#include "SampleStreamMeter.h"

#include "Decibels.h"
#include "SampleCodec.h"

#include <algorithm>

std::size_t SampleStreamMeter::blockFrames(const WavFormat& format)
{
    constexpr std::size_t kFrames = 65536;
    constexpr std::size_t kMaxBytes = 1 << 20;
    return std::clamp<std::size_t>(kMaxBytes / format.blockAlign, 1, kFrames);
}

SampleStreamMeter::SampleStreamMeter(const WavFormat& format)
    : format_(format),
      loudness_(format.channels, format.sampleRate, format.channelMask, LoudnessMeter::Measures::ForReport),
      peaks_(format.channels, format.sampleRate),
      samples_(blockFrames(format) * format.channels)
{
    held_.reserve(format.blockAlign);
}

void SampleStreamMeter::add(const std::uint8_t* bytes, std::size_t count)
{
    const std::size_t frameBytes = format_.blockAlign;
    if (!held_.empty()) {
        const std::size_t taken = std::min(count, frameBytes - held_.size());
        held_.insert(held_.end(), bytes, bytes + taken);
        bytes += taken;
        count -= taken;
        if (held_.size() < frameBytes)
            return;
        addWhole(held_.data(), 1);
        held_.clear();
    }
    const std::size_t whole = count / frameBytes;
    addWhole(bytes, whole);
    held_.assign(bytes + whole * frameBytes, bytes + count);
}

void SampleStreamMeter::addWhole(const std::uint8_t* bytes, std::size_t frames)
{
    const std::size_t block = samples_.size() / format_.channels;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t part = std::min(block, frames - done);
        sample_codec::decode(format_, bytes + done * format_.blockAlign, part * format_.channels, samples_.data());
        loudness_.addFrames(samples_.data(), part);
        peaks_.addFrames(samples_.data(), part);
        done += part;
    }
    frames_ += frames;
}

Measurement SampleStreamMeter::result() const
{
    return reportOf(loudness_, peaks_, frames_, format_.sampleRate);
}

Measurement SampleStreamMeter::reportOf(const LoudnessMeter& loudness, const TruePeakMeter& peaks,
                                        std::uint64_t frames, unsigned sampleRate)
{
    Measurement m;
    // The blocks' own gating, as --measure gives it (a LoudnessAndReport meter's
    // integratedLoudness() is the normaliser's).
    m.integratedLufs = loudness.blocks().integratedLoudness();
    m.rangeLu = loudness.loudnessRange();
    m.truePeakDbtp = decibels::toDb(peaks.truePeak());
    m.samplePeakDbfs = decibels::toDb(peaks.samplePeak());
    m.seconds = static_cast<double>(frames) / sampleRate;
    m.blocks = loudness.blocks();
    return m;
}
