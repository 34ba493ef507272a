#include "ChannelMap.h"

namespace channel_map {

namespace {

enum Speaker : std::uint32_t {
    FrontLeft = 0x1, FrontRight = 0x2, FrontCenter = 0x4, LowFrequency = 0x8,
    BackLeft = 0x10, BackRight = 0x20, FrontLeftOfCenter = 0x40, FrontRightOfCenter = 0x80,
    BackCenter = 0x100, SideLeft = 0x200, SideRight = 0x400, TopCenter = 0x800,
    TopFrontLeft = 0x1000, TopFrontCenter = 0x2000, TopFrontRight = 0x4000,
    TopBackLeft = 0x8000, TopBackCenter = 0x10000, TopBackRight = 0x20000,
};

constexpr double kOnce = 1.0;
constexpr double kSurround = 1.41;  // +1.5 dB
constexpr double kLeftOut = 0.0;

double weightOf(std::uint32_t speaker, std::uint32_t mask)
{
    // With side channels present the back pair sits behind the listener (beyond 120
    // degrees, weight 1); without them the back pair are the surrounds of a 5.1. Likewise the
    // sides are surrounds, at 90 degrees, whether or not a back pair is there.
    const bool hasSides = (mask & (SideLeft | SideRight)) != 0;
    switch (speaker) {
    case LowFrequency: return kLeftOut;
    case BackLeft:
    case BackRight: return hasSides ? kOnce : kSurround;
    case SideLeft:
    case SideRight: return kSurround;
    default: return kOnce;  // front, centre, top and unnamed positions
    }
}

}  // namespace

std::uint32_t defaultMask(unsigned channels)
{
    switch (channels) {
    case 1: return FrontCenter;
    case 2: return FrontLeft | FrontRight;
    case 3: return FrontLeft | FrontRight | FrontCenter;
    case 4: return FrontLeft | FrontRight | BackLeft | BackRight;
    case 5: return FrontLeft | FrontRight | FrontCenter | BackLeft | BackRight;
    case 6: return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackLeft | BackRight;
    case 7: return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackCenter | SideLeft | SideRight;
    default:
        return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackLeft | BackRight | SideLeft |
               SideRight;
    }
}

std::vector<double> weights(unsigned channels, std::uint32_t mask)
{
    if (mask == 0)
        mask = defaultMask(channels);
    std::vector<double> result;
    result.reserve(channels);
    // Channels take the set bits of the mask in order; any beyond them have no position.
    for (std::uint32_t bit = 1; bit != 0 && result.size() < channels; bit <<= 1)
        if (mask & bit)
            result.push_back(weightOf(bit, mask));
    while (result.size() < channels)
        result.push_back(kOnce);
    return result;
}

}  // namespace channel_map
