#include "SampleCodec.h"

#include "SampleBytes.h"

namespace sample_codec {

using sample_bytes::load;
using sample_bytes::load24;

void decode(const WavFormat& format, const std::uint8_t* in, std::size_t samples, double* out)
{
    switch (format.encoding) {
    case SampleEncoding::UnsignedInt:
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = (static_cast<int>(in[i]) - 128) * (1.0 / 128.0);
        return;
    case SampleEncoding::Float:
        if (format.containerBits == 32)
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = load<float>(in + 4 * i);
        else
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = load<double>(in + 8 * i);
        return;
    case SampleEncoding::SignedInt:
        switch (format.containerBits) {
        case 16:
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = load<std::int16_t>(in + 2 * i) * (1.0 / 32768.0);
            return;
        case 24:
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = load24(in + 3 * i) * (1.0 / 8388608.0);
            return;
        default:
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = load<std::int32_t>(in + 4 * i) * (1.0 / 2147483648.0);
            return;
        }
    }
}

}  // namespace sample_codec
