#pragma once

#include <cstdint>

// Triangular (TPDF) dither noise in units of one quantisation step, spanning -1..+1:
// the sum of two independent uniform values, which makes the requantisation error
// independent of the signal. Same seed, same noise.
class TpdfDither {
public:
    explicit TpdfDither(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}

    double next()
    {
        std::uint64_t r = step();
        auto a = static_cast<double>(static_cast<std::uint32_t>(r));
        auto b = static_cast<double>(static_cast<std::uint32_t>(r >> 32));
        return (a + b) * (1.0 / 4294967296.0) - 1.0;
    }

private:
    // xorshift64*: fast, and ample for noise.
    std::uint64_t step()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }

    std::uint64_t state_;
};
