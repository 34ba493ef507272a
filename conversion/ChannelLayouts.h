#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// FFmpeg's named channel layouts as sets of positions (AV_CH_* bits; the channels of a layout
// come in the order of their bits), and the filters that move audio from one layout to another.
namespace channel_layouts {

// The positions of a named layout ("5.1(side)"); 0 for a name FFmpeg does not give a layout.
std::uint64_t maskOf(std::string_view name);
// The name of a layout; "" for a set of positions without one.
std::string nameOf(std::uint64_t mask);

int channelCount(std::uint64_t mask);

// The layout with side and back surrounds exchanged where the layout has only one of the
// pairs: 5.1(side) <-> 5.1, quad <-> quad(side), 6.1 <-> 6.1(back). Players put both on the
// same speakers, so one is written as the other without mixing.
std::uint64_t surroundsExchanged(std::uint64_t mask);

// True when every position of `part` is in `whole`, or its exchanged surround is.
bool contains(std::uint64_t whole, std::uint64_t part);

// A filter that gives the channels of `from` the names of `to` (surroundsExchanged() of each
// other), moving none: "channelmap=map=0-0|...:channel_layout=5.1".
std::string relabelFilter(std::uint64_t from, std::uint64_t to);

// A filter that mixes `from` down to `to` with the standard coefficients: a channel `to` has
// is kept, a centre missing in `to` goes to both sides at -3 dB, a surround missing in `to`
// goes to the surround of its side, else to the front of its side, at -3 dB; LFE is left out.
// "pan=stereo|c0=c0+0.7071*c2+0.7071*c4|c1=c1+0.7071*c2+0.7071*c5" for 5.1(side) to stereo.
std::string downmixFilter(std::uint64_t from, std::uint64_t to);

}  // namespace channel_layouts
