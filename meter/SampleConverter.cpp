#include "meter/SampleConverter.h"

#include <algorithm>

using ffmpeg_handles::failure;
using ffmpeg_handles::LayoutPtr;

namespace {

LayoutPtr layoutOf(const AVChannelLayout& given)
{
    LayoutPtr layout(new AVChannelLayout{});
    // Frames whose positions are unknown take the usual ones of their count, as the converter does.
    if (given.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(layout.get(), &given) < 0)
        av_channel_layout_default(layout.get(), given.nb_channels);
    return layout;
}

}  // namespace

SampleConverter::SampleConverter(const tool_contracts::MeasureInput& input, const stream_decoding::Sink& sink)
    : sink_(sink),
      format_(input.samples == tool_contracts::RawSamples::S16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT),
      rate_(input.sampleRate),
      channels_(input.channels),
      frameBytes_(static_cast<std::size_t>(input.channels) * static_cast<std::size_t>(av_get_bytes_per_sample(format_))),
      inLayout_(new AVChannelLayout{})
{
}

std::string SampleConverter::take(const AVFrame& frame)
{
    if (!swr_ || frame.format != inFormat_ || frame.sample_rate != inRate_
        || av_channel_layout_compare(&frame.ch_layout, inLayout_.get()) != 0)
        if (std::string error = restart(frame); !error.empty())
            return error;
    return convert(frame.extended_data, frame.nb_samples);
}

std::string SampleConverter::finish()
{
    return swr_ ? convert(nullptr, 0) : std::string();
}

std::string SampleConverter::restart(const AVFrame& frame)
{
    if (std::string error = finish(); !error.empty())
        return error;
    LayoutPtr in = layoutOf(frame.ch_layout);
    // The same positions pass unmixed when the count is the asked one; another count is mixed
    // into the usual positions of the asked count.
    LayoutPtr out = in->nb_channels == channels_
                        ? layoutOf(*in)
                        : layoutOf(AVChannelLayout{AV_CHANNEL_ORDER_UNSPEC, channels_, {}, nullptr});
    SwrContext* made = nullptr;
    int error = swr_alloc_set_opts2(&made, out.get(), format_, rate_, in.get(), static_cast<AVSampleFormat>(frame.format),
                                    frame.sample_rate, 0, nullptr);
    swr_.reset(made);
    if (error >= 0)
        error = swr_init(swr_.get());
    if (error < 0) {
        swr_.reset();
        return failure("cannot convert the samples", error);
    }
    inFormat_ = frame.format;
    inRate_ = frame.sample_rate;
    inLayout_ = std::move(in);
    return {};
}

// Without data: what the conversion holds, until nothing is left.
std::string SampleConverter::convert(const std::uint8_t* const* data, int samples)
{
    for (;;) {
        const int room = std::max(swr_get_out_samples(swr_.get(), samples), 1);
        out_.resize(static_cast<std::size_t>(room) * frameBytes_);
        std::uint8_t* to = out_.data();
        const int got = swr_convert(swr_.get(), &to, room, const_cast<const std::uint8_t**>(data), samples);
        if (got < 0)
            return failure("cannot convert the samples", got);
        sink_(out_.data(), static_cast<std::size_t>(got) * frameBytes_);
        if (data || got == 0)
            return {};
    }
}
