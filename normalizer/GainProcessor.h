#pragma once

#include "normalizer/TpdfDither.h"
#include "WavFormat.h"

#include <cstddef>
#include <cstdint>

// Applies one gain to the samples of a WAV data chunk, in place, in the file's own
// format. Integer samples are rounded to their significant bits and clamped at the
// integer range; formats of 16 significant bits or fewer get TPDF dither first.
class GainProcessor {
public:
    GainProcessor(const WavFormat& format, double gainDb, std::uint64_t ditherSeed);

    void process(std::uint8_t* data, std::size_t samples);
    // The same with a further gain per frame (a limiter's), frameGains[sample / channels].
    void process(std::uint8_t* data, std::size_t samples, const double* frameGains);

    bool dithers() const { return dithers_; }
    // How far above the ideal value a requantised sample can land, on the -1..1 scale.
    static double quantisationHeadroom(const WavFormat& format);

private:
    template <typename Factor>
    void processAll(std::uint8_t* data, std::size_t samples, Factor factor);
    template <typename Factor, typename Load, typename Store>
    void processIntegers(std::uint8_t* data, std::size_t samples, unsigned width, Factor factor, Load load,
                         Store store);

    WavFormat format_;
    double gain_;  // linear
    bool dithers_;
    double step_;      // container units per significant step
    double minSteps_;  // range of the significant bits, in steps
    double maxSteps_;
    TpdfDither dither_;
};
