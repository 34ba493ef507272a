#pragma once

#include "meter/FFmpegHandles.h"
#include "meter/StreamDecoding.h"

#include <cstdint>
#include <string>
#include <vector>

// Decoded frames converted by libswresample, with its defaults as the converter uses them (no
// dither), into packed 16-bit integers or 32-bit floats at the asked channel count and rate,
// handed to a sink. A new conversion starts where the frames change their format.
class SampleConverter {
public:
    SampleConverter(const tool_contracts::MeasureInput& input, const stream_decoding::Sink& sink);

    // "" when converted, otherwise why not.
    std::string take(const AVFrame& frame);
    // Hands over what the conversion still holds.
    std::string finish();

private:
    std::string restart(const AVFrame& frame);
    std::string convert(const std::uint8_t* const* data, int samples);

    const stream_decoding::Sink& sink_;
    AVSampleFormat format_;
    int rate_;
    int channels_;
    std::size_t frameBytes_;
    ffmpeg_handles::SwrPtr swr_;
    int inFormat_ = -1;
    int inRate_ = 0;
    ffmpeg_handles::LayoutPtr inLayout_;
    std::vector<std::uint8_t> out_;
};
