#pragma once

#include <cstdint>
#include <vector>

// Which loudness weighting each channel of a signal takes, by its speaker position.
namespace channel_map {

// The libebur128 channel type of every channel, from the WAVE_FORMAT_EXTENSIBLE speaker
// mask (0: none given, so the usual order for the channel count is assumed).
// LFE is left out of the loudness; side and surround channels at 60 to 120 degrees are
// weighted +1.5 dB, as BS.1770 prescribes; everything else counts once.
std::vector<int> ebur128Channels(unsigned channels, std::uint32_t mask);

// The speaker mask a file without one is taken to have.
std::uint32_t defaultMask(unsigned channels);

}  // namespace channel_map
