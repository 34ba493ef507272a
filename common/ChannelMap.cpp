#include "ChannelMap.h"

#include <ebur128.h>

namespace channel_map {

namespace {

enum Speaker : std::uint32_t {
    FrontLeft = 0x1, FrontRight = 0x2, FrontCenter = 0x4, LowFrequency = 0x8,
    BackLeft = 0x10, BackRight = 0x20, FrontLeftOfCenter = 0x40, FrontRightOfCenter = 0x80,
    BackCenter = 0x100, SideLeft = 0x200, SideRight = 0x400, TopCenter = 0x800,
    TopFrontLeft = 0x1000, TopFrontCenter = 0x2000, TopFrontRight = 0x4000,
    TopBackLeft = 0x8000, TopBackCenter = 0x10000, TopBackRight = 0x20000,
};

int typeOf(std::uint32_t speaker, std::uint32_t mask)
{
    // With side channels present the back pair sits behind the listener (beyond 120
    // degrees, weight 1); without them the back pair are the surrounds of a 5.1.
    bool hasSides = (mask & (SideLeft | SideRight)) != 0;
    bool hasBacks = (mask & (BackLeft | BackRight)) != 0;
    switch (speaker) {
    case FrontLeft: return EBUR128_LEFT;
    case FrontRight: return EBUR128_RIGHT;
    case FrontCenter: return EBUR128_CENTER;
    case LowFrequency: return EBUR128_UNUSED;
    case BackLeft: return hasSides ? EBUR128_Mp135 : EBUR128_LEFT_SURROUND;
    case BackRight: return hasSides ? EBUR128_Mm135 : EBUR128_RIGHT_SURROUND;
    case FrontLeftOfCenter: return EBUR128_MpSC;
    case FrontRightOfCenter: return EBUR128_MmSC;
    case BackCenter: return EBUR128_Mp180;
    case SideLeft: return hasBacks ? EBUR128_Mp090 : EBUR128_LEFT_SURROUND;
    case SideRight: return hasBacks ? EBUR128_Mm090 : EBUR128_RIGHT_SURROUND;
    case TopCenter: return EBUR128_Tp000;
    case TopFrontLeft: return EBUR128_Up030;
    case TopFrontCenter: return EBUR128_Up000;
    case TopFrontRight: return EBUR128_Um030;
    case TopBackLeft: return EBUR128_Up135;
    case TopBackCenter: return EBUR128_Up180;
    case TopBackRight: return EBUR128_Um135;
    default: return EBUR128_CENTER;  // a position without a name: counted once
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

std::vector<int> ebur128Channels(unsigned channels, std::uint32_t mask)
{
    if (mask == 0)
        mask = defaultMask(channels);
    std::vector<int> types;
    types.reserve(channels);
    // Channels take the set bits of the mask in order; any beyond them have no position.
    for (std::uint32_t bit = 1; bit != 0 && types.size() < channels; bit <<= 1)
        if (mask & bit)
            types.push_back(typeOf(bit, mask));
    while (types.size() < channels)
        types.push_back(EBUR128_CENTER);
    return types;
}

}  // namespace channel_map
