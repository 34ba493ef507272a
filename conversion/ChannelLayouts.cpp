#include "conversion/ChannelLayouts.h"

#include "media/FFmpegHeaders.h"

#include <array>
#include <bit>
#include <map>
#include <utility>
#include <vector>

namespace channel_layouts {

namespace {

struct Named {
    std::string_view name;
    std::uint64_t mask;
};

// FFmpeg's names, as its tools print them.
constexpr Named kLayouts[] = {
    {"mono", AV_CH_LAYOUT_MONO},
    {"stereo", AV_CH_LAYOUT_STEREO},
    {"2.1", AV_CH_LAYOUT_2POINT1},
    {"3.0", AV_CH_LAYOUT_SURROUND},
    {"3.0(back)", AV_CH_LAYOUT_2_1},
    {"4.0", AV_CH_LAYOUT_4POINT0},
    {"quad", AV_CH_LAYOUT_QUAD},
    {"quad(side)", AV_CH_LAYOUT_2_2},
    {"3.1", AV_CH_LAYOUT_3POINT1},
    {"5.0", AV_CH_LAYOUT_5POINT0_BACK},
    {"5.0(side)", AV_CH_LAYOUT_5POINT0},
    {"4.1", AV_CH_LAYOUT_4POINT1},
    {"5.1", AV_CH_LAYOUT_5POINT1_BACK},
    {"5.1(side)", AV_CH_LAYOUT_5POINT1},
    {"6.0", AV_CH_LAYOUT_6POINT0},
    {"6.0(front)", AV_CH_LAYOUT_6POINT0_FRONT},
    {"hexagonal", AV_CH_LAYOUT_HEXAGONAL},
    {"6.1", AV_CH_LAYOUT_6POINT1},
    {"6.1(back)", AV_CH_LAYOUT_6POINT1_BACK},
    {"6.1(front)", AV_CH_LAYOUT_6POINT1_FRONT},
    {"7.0", AV_CH_LAYOUT_7POINT0},
    {"7.0(front)", AV_CH_LAYOUT_7POINT0_FRONT},
    {"7.1", AV_CH_LAYOUT_7POINT1},
    {"7.1(wide)", AV_CH_LAYOUT_7POINT1_WIDE_BACK},
    {"7.1(wide-side)", AV_CH_LAYOUT_7POINT1_WIDE},
    {"octagonal", AV_CH_LAYOUT_OCTAGONAL},
};

constexpr std::uint64_t kSides = AV_CH_SIDE_LEFT | AV_CH_SIDE_RIGHT;
constexpr std::uint64_t kBacks = AV_CH_BACK_LEFT | AV_CH_BACK_RIGHT;
constexpr std::uint64_t kLfe = AV_CH_LOW_FREQUENCY | AV_CH_LOW_FREQUENCY_2;
// -3 dB: what a channel folded into another position, or a centre into each side, keeps.
constexpr std::string_view kMinus3dB = "0.7071";

enum class Side { Left, Right, Centre };

// Where a position sounds from: its side, and whether it is a surround (behind the listener
// or beside them) rather than a front channel.
struct Place {
    Side side;
    bool surround;
};

Place placeOf(std::uint64_t bit)
{
    constexpr std::uint64_t left = AV_CH_FRONT_LEFT | AV_CH_FRONT_LEFT_OF_CENTER | AV_CH_TOP_FRONT_LEFT |
                                   AV_CH_STEREO_LEFT | AV_CH_WIDE_LEFT | AV_CH_BOTTOM_FRONT_LEFT |
                                   AV_CH_BACK_LEFT | AV_CH_SIDE_LEFT | AV_CH_TOP_BACK_LEFT |
                                   AV_CH_SURROUND_DIRECT_LEFT | AV_CH_TOP_SIDE_LEFT;
    constexpr std::uint64_t right = AV_CH_FRONT_RIGHT | AV_CH_FRONT_RIGHT_OF_CENTER | AV_CH_TOP_FRONT_RIGHT |
                                    AV_CH_STEREO_RIGHT | AV_CH_WIDE_RIGHT | AV_CH_BOTTOM_FRONT_RIGHT |
                                    AV_CH_BACK_RIGHT | AV_CH_SIDE_RIGHT | AV_CH_TOP_BACK_RIGHT |
                                    AV_CH_SURROUND_DIRECT_RIGHT | AV_CH_TOP_SIDE_RIGHT;
    constexpr std::uint64_t surround = kBacks | kSides | AV_CH_BACK_CENTER | AV_CH_TOP_BACK_LEFT |
                                       AV_CH_TOP_BACK_CENTER | AV_CH_TOP_BACK_RIGHT |
                                       AV_CH_SURROUND_DIRECT_LEFT | AV_CH_SURROUND_DIRECT_RIGHT |
                                       AV_CH_TOP_SIDE_LEFT | AV_CH_TOP_SIDE_RIGHT;
    return {(bit & left) ? Side::Left : (bit & right) ? Side::Right : Side::Centre, (bit & surround) != 0};
}

// The position of `to` that takes a channel from this place, if it has one.
std::uint64_t seatIn(std::uint64_t to, Side side, bool surround)
{
    static constexpr std::array<std::array<std::uint64_t, 2>, 3> kFront = {
        {{AV_CH_FRONT_LEFT, 0}, {AV_CH_FRONT_RIGHT, 0}, {AV_CH_FRONT_CENTER, 0}}};
    static constexpr std::array<std::array<std::uint64_t, 2>, 3> kSurround = {
        {{AV_CH_SIDE_LEFT, AV_CH_BACK_LEFT}, {AV_CH_SIDE_RIGHT, AV_CH_BACK_RIGHT}, {AV_CH_BACK_CENTER, 0}}};
    for (std::uint64_t bit : (surround ? kSurround : kFront)[static_cast<std::size_t>(side)])
        if (bit & to)
            return bit;
    return 0;
}

// Where a channel of `to` lacks goes: its surround seat, else the front of its side; a centre
// with no seat of its own is split over both sides; anything into mono goes to its centre.
std::vector<std::uint64_t> seatsFor(std::uint64_t bit, std::uint64_t to)
{
    const Place place = placeOf(bit);
    auto seat = [&](Side side) {
        const std::uint64_t s = place.surround ? seatIn(to, side, true) : 0;
        return s ? s : seatIn(to, side, false);
    };
    if (place.side != Side::Centre) {
        if (const std::uint64_t own = seat(place.side))
            return {own};
    } else if (const std::uint64_t own = seatIn(to, Side::Centre, place.surround)) {
        return {own};
    } else if (const std::uint64_t left = seat(Side::Left), right = seat(Side::Right); left && right) {
        return {left, right};
    }
    return {seatIn(to, Side::Centre, false)};
}

// Side left <-> back left, side right <-> back right; any other position stays.
std::uint64_t exchangedBit(std::uint64_t bit)
{
    if (bit & kSides)
        return bit == AV_CH_SIDE_LEFT ? AV_CH_BACK_LEFT : AV_CH_BACK_RIGHT;
    if (bit & kBacks)
        return bit == AV_CH_BACK_LEFT ? AV_CH_SIDE_LEFT : AV_CH_SIDE_RIGHT;
    return bit;
}

std::vector<std::uint64_t> bitsOf(std::uint64_t mask)
{
    std::vector<std::uint64_t> bits;
    for (; mask; mask &= mask - 1)
        bits.push_back(mask & (~mask + 1));
    return bits;
}

int indexIn(std::uint64_t mask, std::uint64_t bit)
{
    return std::popcount(mask & (bit - 1));
}

}  // namespace

std::uint64_t maskOf(std::string_view name)
{
    for (const Named& l : kLayouts)
        if (l.name == name)
            return l.mask;
    return 0;
}

std::string nameOf(std::uint64_t mask)
{
    for (const Named& l : kLayouts)
        if (l.mask == mask)
            return std::string(l.name);
    return {};
}

int channelCount(std::uint64_t mask) { return std::popcount(mask); }

std::uint64_t surroundsExchanged(std::uint64_t mask)
{
    if (((mask & kSides) != 0) == ((mask & kBacks) != 0))
        return mask;
    std::uint64_t exchanged = 0;
    for (std::uint64_t bit : bitsOf(mask))
        exchanged |= exchangedBit(bit);
    return exchanged;
}

bool contains(std::uint64_t whole, std::uint64_t part)
{
    return (part & ~whole) == 0 || (surroundsExchanged(part) & ~whole) == 0;
}

std::string relabelFilter(std::uint64_t from, std::uint64_t to)
{
    std::string map;
    for (std::uint64_t bit : bitsOf(to)) {
        const std::uint64_t source = (bit & from) ? bit : exchangedBit(bit) & from;
        if (source)
            map += (map.empty() ? "" : "|") + std::to_string(indexIn(from, source)) + "-" +
                   std::to_string(indexIn(to, bit));
    }
    return "channelmap=map=" + map + ":channel_layout=" + nameOf(to);
}

std::string downmixFilter(std::uint64_t from, std::uint64_t to)
{
    // Coefficient texts of every output channel, by input channel.
    std::map<int, std::map<int, std::string>> terms;
    for (std::uint64_t bit : bitsOf(from)) {
        const int in = indexIn(from, bit);
        if (bit & to) {
            terms[indexIn(to, bit)][in] = "1";
        } else if (const std::uint64_t other = exchangedBit(bit); (other & to) && !(other & from)) {
            terms[indexIn(to, other)][in] = "1";  // a side surround on the back seat, or the reverse
        } else if (!(bit & kLfe)) {
            for (std::uint64_t seat : seatsFor(bit, to))
                if (seat)
                    terms[indexIn(to, seat)][in] = std::string(kMinus3dB);
        }
    }
    std::string text = "pan=" + nameOf(to);
    for (const auto& [out, inputs] : terms) {
        text += "|c" + std::to_string(out) + "=";
        bool first = true;
        for (const auto& [in, gain] : inputs) {
            text += (first ? "" : "+") + (gain == "1" ? "" : gain + "*") + "c" + std::to_string(in);
            first = false;
        }
    }
    return text;
}

}  // namespace channel_layouts
