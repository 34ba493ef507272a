#pragma once

#include <cmath>

// Levels between linear amplitude and decibels.
namespace decibels {

// 0 (the peak of a silent signal) is -infinity dB.
inline double toDb(double linear)
{
    return linear > 0 ? 20.0 * std::log10(linear) : -HUGE_VAL;
}

inline double fromDb(double db)
{
    return std::pow(10.0, db / 20.0);
}

}  // namespace decibels
