#include "normalizer/LimitedStream.h"

#include "Decibels.h"
#include "normalizer/FileAnalysis.h"
#include "SampleCodec.h"
#include "normalizer/StopSignal.h"
#include "normalizer/TruePeakLimiter.h"
#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"

#include <algorithm>
#include <vector>

namespace limited_stream {

double run(int fd, const WavLayout& layout, double gainDb, double ceiling, const Sink& sink)
{
    const WavFormat& format = layout.format;
    const unsigned channels = format.channels;
    const double gain = decibels::fromDb(gainDb);
    TruePeakLimiter limiter(channels, format.sampleRate, ceiling);
    const std::size_t block = file_analysis::blockFrames(format);
    // Frames read but not yet given their gain: at most one block and the limiter's delay.
    std::vector<std::uint8_t> bytes;
    std::vector<double> samples;
    std::vector<double> gains;
    std::size_t held = 0;
    auto deliver = [&] {
        const std::size_t done = gains.size();
        sink(bytes.data(), samples.data(), gains.data(), done);
        held -= done;
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(done * format.blockAlign));
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(done * channels));
        gains.clear();
    };

    std::uint64_t offset = layout.sampleOffset;
    for (std::uint64_t left = layout.frameCount; left > 0;) {
        if (stop_signal::pending())
            throw WavError("interrupted");
        std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(left, block));
        bytes.resize((held + frames) * format.blockAlign);
        samples.resize((held + frames) * channels);
        readExactAt(fd, offset, bytes.data() + held * format.blockAlign, frames * format.blockAlign, "samples");
        double* fresh = samples.data() + held * channels;
        sample_codec::decode(format, bytes.data() + held * format.blockAlign, frames * channels, fresh);
        for (std::size_t i = 0; i < frames * channels; ++i)
            fresh[i] *= gain;
        held += frames;
        limiter.push(fresh, frames, gains);
        deliver();
        offset += frames * format.blockAlign;
        left -= frames;
    }
    limiter.finish(gains);
    gains.resize(held, 1.0);  // a file shorter than the delay
    deliver();
    return limiter.deepestGain();
}

void applyGains(const double* samples, const double* gains, std::size_t frames, unsigned channels,
                std::vector<double>& out)
{
    out.resize(frames * channels);
    for (std::size_t f = 0; f < frames; ++f)
        for (unsigned c = 0; c < channels; ++c)
            out[f * channels + c] = samples[f * channels + c] * gains[f];
}

}  // namespace limited_stream
