#pragma once

#include <cstdint>

// The libraries the loader knows; the index is also the load order.
enum class TLibraryIndex : std::uint8_t {
    avcodec,
    avdevice,
    avfilter,
    avformat,
    avutil,
    swresample,
    swscale,
    libc,
};

inline constexpr int kLibraryCount = 8;

// Sets of libraries are bit masks over the indices.
using TLibrarySet = std::uint8_t;

constexpr TLibrarySet librarySetOf(TLibraryIndex index)
{
    return static_cast<TLibrarySet>(1u << static_cast<unsigned>(index));
}

inline constexpr TLibrarySet all_libraries = 0xFF;
// What the probe needs: everything but avdevice and avfilter.
inline constexpr TLibrarySet probe_libraries = 0xF9;

static_assert(probe_libraries == (all_libraries & ~librarySetOf(TLibraryIndex::avdevice) &
                                  ~librarySetOf(TLibraryIndex::avfilter)));
