#include "normalizer/StreamMeasure.h"

#include "LoudnessMeter.h"
#include "TruePeakMeter.h"
#include "normalizer/FileAnalysis.h"
#include "normalizer/SampleCodec.h"
#include "normalizer/StopSignal.h"
#include "normalizer/WavError.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace stream_measure {

Measurement measure(int fd, const WavFormat& format)
{
    LoudnessMeter loudness(format.channels, format.sampleRate, format.channelMask, LoudnessMeter::Measures::ForReport);
    TruePeakMeter peaks(format.channels, format.sampleRate);
    const std::size_t blockBytes = file_analysis::blockFrames(format) * format.blockAlign;
    std::vector<std::uint8_t> raw(blockBytes);
    std::vector<double> samples(blockBytes / format.bytesPerSample());
    std::size_t held = 0;  // bytes of a frame that the last read cut
    std::uint64_t frames = 0;
    for (;;) {
        if (stop_signal::pending())
            throw WavError("interrupted");
        const ssize_t got = ::read(fd, raw.data() + held, raw.size() - held);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw WavError(systemReason("cannot read the samples", errno));
        if (got == 0)
            break;  // a frame cut by the end of the input is not counted
        held += static_cast<std::size_t>(got);
        const std::size_t whole = held / format.blockAlign;
        sample_codec::decode(format, raw.data(), whole * format.channels, samples.data());
        loudness.addFrames(samples.data(), whole);
        peaks.addFrames(samples.data(), whole);
        frames += whole;
        held -= whole * format.blockAlign;
        std::memmove(raw.data(), raw.data() + whole * format.blockAlign, held);
    }
    return file_analysis::reportOf(loudness, peaks, frames, format.sampleRate);
}

}  // namespace stream_measure
