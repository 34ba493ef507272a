#include "normalizer/GainProcessor.h"

#include "Decibels.h"
#include "GainRules.h"
#include "SampleBytes.h"

#include <cmath>

namespace {

bool needsDither(const WavFormat& format)
{
    return format.isInteger() && format.validBits <= 16;
}

}  // namespace

using sample_bytes::load;
using sample_bytes::load24;
using sample_bytes::store;

GainProcessor::GainProcessor(const WavFormat& format, double gainDb, std::uint64_t ditherSeed)
    : format_(format),
      gain_(decibels::fromDb(gainDb)),
      dithers_(needsDither(format)),
      step_(std::ldexp(1.0, format.containerBits - format.validBits)),
      minSteps_(-std::ldexp(1.0, format.validBits - 1)),
      maxSteps_(std::ldexp(1.0, format.validBits - 1) - 1.0),
      dither_(ditherSeed)
{
}

double GainProcessor::quantisationHeadroom(const WavFormat& format)
{
    return gain_rules::quantisationHeadroom(format.isInteger() ? format.validBits : 0);
}

// factor(i) is the gain of sample i; in steps of the significant bits for integers.
template <typename Factor, typename Load, typename Store>
void GainProcessor::processIntegers(std::uint8_t* data, std::size_t samples, unsigned width, Factor factor,
                                    Load load, Store store)
{
    for (std::size_t i = 0; i < samples; ++i) {
        std::uint8_t* p = data + i * width;
        double value = load(p) * factor(i);
        if (dithers_)
            value += dither_.next();
        value = std::nearbyint(value);
        if (value < minSteps_)
            value = minSteps_;
        else if (value > maxSteps_)
            value = maxSteps_;
        store(p, static_cast<std::int64_t>(value * step_));
    }
}

void GainProcessor::process(std::uint8_t* data, std::size_t samples)
{
    const double gain = gain_;
    processAll(data, samples, [gain](std::size_t) { return gain; });
}

void GainProcessor::process(std::uint8_t* data, std::size_t samples, const double* frameGains)
{
    const double gain = gain_;
    const unsigned channels = format_.channels;
    processAll(data, samples, [=](std::size_t i) { return gain * frameGains[i / channels]; });
}

template <typename Factor>
void GainProcessor::processAll(std::uint8_t* data, std::size_t samples, Factor factor)
{
    // Integers work in steps of the significant bits, so that 20-bit audio in 24-bit
    // containers keeps its unused low bits at zero.
    const double step = step_;
    auto steps = [&factor, step](std::size_t i) { return factor(i) / step; };
    switch (format_.encoding) {
    case SampleEncoding::UnsignedInt:
        processIntegers(
            data, samples, 1, steps, [](const std::uint8_t* p) { return static_cast<double>(*p) - 128.0; },
            [](std::uint8_t* p, std::int64_t v) { *p = static_cast<std::uint8_t>(v + 128); });
        return;
    case SampleEncoding::Float:
        if (format_.containerBits == 32) {
            for (std::size_t i = 0; i < samples; ++i)
                store(data + 4 * i, static_cast<float>(load<float>(data + 4 * i) * factor(i)));
        } else {
            for (std::size_t i = 0; i < samples; ++i)
                store(data + 8 * i, load<double>(data + 8 * i) * factor(i));
        }
        return;
    case SampleEncoding::SignedInt:
        switch (format_.containerBits) {
        case 16:
            processIntegers(
                data, samples, 2, steps, [](const std::uint8_t* p) { return static_cast<double>(load<std::int16_t>(p)); },
                [](std::uint8_t* p, std::int64_t v) { store(p, static_cast<std::int16_t>(v)); });
            return;
        case 24:
            processIntegers(
                data, samples, 3, steps, [](const std::uint8_t* p) { return static_cast<double>(load24(p)); },
                [](std::uint8_t* p, std::int64_t v) { sample_bytes::store24(p, static_cast<std::int32_t>(v)); });
            return;
        default:
            processIntegers(
                data, samples, 4, steps, [](const std::uint8_t* p) { return static_cast<double>(load<std::int32_t>(p)); },
                [](std::uint8_t* p, std::int64_t v) { store(p, static_cast<std::int32_t>(v)); });
            return;
        }
    }
}
