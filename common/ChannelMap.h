#pragma once

#include <cstdint>
#include <vector>

// Which loudness weighting each channel of a signal takes, by its speaker position.
namespace channel_map {

// The weight of every channel's energy in the loudness, from the WAVE_FORMAT_EXTENSIBLE speaker
// mask (0: none given, so the usual order for the channel count is assumed).
// LFE is left out (0); side and surround channels at 60 to 120 degrees are weighted +1.5 dB
// (1.41), as BS.1770 prescribes; everything else counts once.
std::vector<double> weights(unsigned channels, std::uint32_t mask);

// The speaker mask a file without one is taken to have.
std::uint32_t defaultMask(unsigned channels);

}  // namespace channel_map
