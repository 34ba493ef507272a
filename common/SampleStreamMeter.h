#pragma once

#include "LoudnessMeter.h"
#include "Measurement.h"
#include "TruePeakMeter.h"
#include "WavFormat.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The meters of a report fed with raw interleaved samples in pieces of any size: what the
// normaliser's measuring mode reads from a pipe and what the measuring worker decodes, measured
// by one loop so that both print the same figures for the same samples.
class SampleStreamMeter {
public:
    // The raw samples the measuring modes take.
    static constexpr unsigned kMaxChannels = 64;
    static constexpr unsigned kMinRate = 16;
    static constexpr unsigned kMaxRate = 2822400;

    // Throws std::runtime_error when the meters cannot take the format.
    explicit SampleStreamMeter(const WavFormat& format);

    // A frame that the end of `count` bytes cuts is completed by the next call.
    void add(const std::uint8_t* bytes, std::size_t count);
    // The figures of the whole frames taken so far.
    Measurement result() const;

    // The figures from a ForReport or LoudnessAndReport meter and the true-peak meter that
    // took `frames` frames.
    static Measurement reportOf(const LoudnessMeter& loudness, const TruePeakMeter& peaks, std::uint64_t frames,
                                unsigned sampleRate);
    // Frames per read or decoding: about 64 Ki, fewer for wide frames, so that memory stays small.
    static std::size_t blockFrames(const WavFormat& format);

private:
    void addWhole(const std::uint8_t* bytes, std::size_t frames);

    WavFormat format_;
    LoudnessMeter loudness_;
    TruePeakMeter peaks_;
    std::vector<double> samples_;     // one block's frames, decoded
    std::vector<std::uint8_t> held_;  // the start of a frame that the last piece cut
    std::uint64_t frames_ = 0;
};
