#pragma once

#include "normalizer/WavLayout.h"

#include <cstddef>
#include <cstdint>

// Reading the header of RIFF/RF64 WAVE files. Throws WavError for what it refuses.
namespace wav_parser {

// Walks the chunks of an open file up to the data chunk.
WavLayout parse(int fd);

// Interprets the body of a fmt chunk.
WavFormat parseFormat(const std::uint8_t* body, std::size_t size);

}  // namespace wav_parser
