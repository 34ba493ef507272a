#pragma once

#include "WavFormat.h"

#include <cstddef>
#include <cstdint>

// Turning the bytes of a WAV data chunk into samples on the -1..1 scale.
namespace sample_codec {

// Decodes `samples` samples (frames times channels) of the given format.
void decode(const WavFormat& format, const std::uint8_t* in, std::size_t samples, double* out);

}  // namespace sample_codec
