#pragma once

#include <cstdint>
#include <cstring>

// Little-endian sample access; the machine is little-endian, like the files.
namespace sample_bytes {

template <typename T>
inline T load(const std::uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
inline void store(std::uint8_t* p, T value)
{
    std::memcpy(p, &value, sizeof value);
}

inline std::int32_t load24(const std::uint8_t* p)
{
    std::uint32_t u = static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                      static_cast<std::uint32_t>(p[2]) << 24;
    return static_cast<std::int32_t>(u) >> 8;
}

inline void store24(std::uint8_t* p, std::int32_t value)
{
    auto u = static_cast<std::uint32_t>(value);
    p[0] = static_cast<std::uint8_t>(u);
    p[1] = static_cast<std::uint8_t>(u >> 8);
    p[2] = static_cast<std::uint8_t>(u >> 16);
}

}  // namespace sample_bytes
