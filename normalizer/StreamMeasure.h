#pragma once

#include "Measurement.h"
#include "WavFormat.h"

// The measuring mode: raw samples read from a descriptor (the converter's decoding, through a
// pipe) to its end, measured by the meters that measure the normaliser's own files.
namespace stream_measure {

// Throws WavError when the input cannot be read or is interrupted, std::runtime_error when the
// meter cannot take the format.
Measurement measure(int fd, const WavFormat& format);

}  // namespace stream_measure
