#include "normalizer/StreamMeasure.h"

#include "SampleStreamMeter.h"
#include "normalizer/StopSignal.h"
#include "normalizer/WavError.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace stream_measure {

Measurement measure(int fd, const WavFormat& format)
{
    SampleStreamMeter meter(format);
    std::vector<std::uint8_t> raw(SampleStreamMeter::blockFrames(format) * format.blockAlign);
    for (;;) {
        if (stop_signal::pending())
            throw WavError("interrupted");
        const ssize_t got = ::read(fd, raw.data(), raw.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw WavError(systemReason("cannot read the samples", errno));
        if (got == 0)
            break;  // a frame cut by the end of the input is not counted
        meter.add(raw.data(), static_cast<std::size_t>(got));
    }
    return meter.result();
}

}  // namespace stream_measure
