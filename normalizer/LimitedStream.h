#pragma once

#include "normalizer/WavLayout.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Reads the samples of a file through the true-peak limiter at a gain, in blocks.
namespace limited_stream {

// Called with frames in order: their bytes as read (writable), their samples on the -1..1
// scale at the gain before limiting, and the limiter's gain of each frame.
using Sink = std::function<void(std::uint8_t* bytes, const double* samples, const double* gains,
                                std::size_t frames)>;

// Streams every frame of fd's samples to sink; returns the smallest limiter gain (linear).
// ceiling is the highest true peak allowed, linear. Throws WavError.
double run(int fd, const WavLayout& layout, double gainDb, double ceiling, const Sink& sink);

// out = samples with each frame's gain applied.
void applyGains(const double* samples, const double* gains, std::size_t frames, unsigned channels,
                std::vector<double>& out);

}  // namespace limited_stream
