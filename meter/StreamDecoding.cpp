#include "meter/StreamDecoding.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <memory>
#include <vector>

namespace stream_decoding {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct LayoutFreer {
    void operator()(AVChannelLayout* l) const
    {
        av_channel_layout_uninit(l);
        delete l;
    }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using LayoutPtr = std::unique_ptr<AVChannelLayout, LayoutFreer>;

std::string failure(const std::string& action, int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return action + ": " + text;
}

LayoutPtr layoutOf(const AVChannelLayout& given)
{
    LayoutPtr layout(new AVChannelLayout{});
    // Frames whose positions are unknown take the usual ones of their count, as the converter does.
    if (given.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(layout.get(), &given) < 0)
        av_channel_layout_default(layout.get(), given.nb_channels);
    return layout;
}

// The conversion of decoded frames into the asked samples; a new one where the frames change.
class Converter {
public:
    Converter(const tool_contracts::MeasureInput& input, const Sink& sink)
        : sink_(sink),
          format_(input.samples == tool_contracts::RawSamples::S16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT),
          rate_(input.sampleRate),
          frameBytes_(static_cast<std::size_t>(input.channels) * av_get_bytes_per_sample(format_)),
          channels_(input.channels)
    {
    }

    std::string take(const AVFrame& frame)
    {
        if (!swr_ || frame.format != inFormat_ || frame.sample_rate != inRate_
            || av_channel_layout_compare(&frame.ch_layout, inLayout_.get()) != 0)
            if (std::string error = restart(frame); !error.empty())
                return error;
        return convert(frame.extended_data, frame.nb_samples);
    }

    // What the conversion still holds.
    std::string finish()
    {
        return swr_ ? convert(nullptr, 0) : std::string();
    }

private:
    std::string restart(const AVFrame& frame)
    {
        if (std::string error = finish(); !error.empty())
            return error;
        LayoutPtr in = layoutOf(frame.ch_layout);
        // The same positions pass unmixed when the count is the asked one; other counts are
        // mixed into the usual positions of the asked count.
        LayoutPtr out = in->nb_channels == channels_ ? layoutOf(*in) : layoutOf(AVChannelLayout{AV_CHANNEL_ORDER_UNSPEC, channels_, {}, nullptr});
        SwrContext* raw = nullptr;
        int error = swr_alloc_set_opts2(&raw, out.get(), format_, rate_, in.get(),
                                        static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        swr_.reset(raw);
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
    std::string convert(const std::uint8_t* const* data, int samples)
    {
        for (;;) {
            const int room = swr_get_out_samples(swr_.get(), samples);
            if (room < 0)
                return failure("cannot convert the samples", room);
            out_.resize(static_cast<std::size_t>(std::max(room, 1)) * frameBytes_);
            std::uint8_t* to = out_.data();
            const int got = swr_convert(swr_.get(), &to, std::max(room, 1), const_cast<const std::uint8_t**>(data), samples);
            if (got < 0)
                return failure("cannot convert the samples", got);
            sink_(out_.data(), static_cast<std::size_t>(got) * frameBytes_);
            if (data || got == 0)
                return {};
        }
    }

    const Sink& sink_;
    AVSampleFormat format_;
    int rate_;
    std::size_t frameBytes_;
    int channels_;
    SwrPtr swr_;
    int inFormat_ = -1;
    int inRate_ = 0;
    LayoutPtr inLayout_ = LayoutPtr(new AVChannelLayout{});
    std::vector<std::uint8_t> out_;
};

}  // namespace

std::string decode(const tool_contracts::MeasureInput& input, const Sink& sink)
{
    AVFormatContext* opened = nullptr;
    if (const int error = avformat_open_input(&opened, input.source.c_str(), nullptr, nullptr); error < 0)
        return failure("cannot open the file", error);
    FormatPtr file(opened);
    if (const int error = avformat_find_stream_info(file.get(), nullptr); error < 0)
        return failure("cannot read the file's streams", error);
    AVStream* stream = nullptr;
    for (unsigned i = 0, audio = 0; i < file->nb_streams; ++i) {
        AVStream* candidate = file->streams[i];
        if (candidate->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && static_cast<int>(audio++) == input.audioStream)
            stream = candidate;
        else
            candidate->discard = AVDISCARD_ALL;
    }
    if (!stream)
        return "it has no audio stream " + std::to_string(input.audioStream);
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return std::string("no decoder for its audio (") + avcodec_get_name(stream->codecpar->codec_id) + ")";
    CodecPtr decoder(avcodec_alloc_context3(codec));
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!decoder || !packet || !frame)
        return failure("cannot decode its audio", AVERROR(ENOMEM));
    if (const int error = avcodec_parameters_to_context(decoder.get(), stream->codecpar); error < 0)
        return failure("cannot decode its audio", error);
    decoder->pkt_timebase = stream->time_base;
    if (const int error = avcodec_open2(decoder.get(), codec, nullptr); error < 0)
        return failure("cannot open the decoder", error);

    Converter converter(input, sink);
    // A packet that does not decode is skipped, as the converter skips it; a file whose
    // packets mostly fail is refused, as the converter refuses it.
    long decoded = 0, failed = 0;
    int lastError = 0;
    auto drain = [&]() -> std::string {
        for (;;) {
            const int got = avcodec_receive_frame(decoder.get(), frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return {};
            if (got < 0) {
                ++failed;
                lastError = got;
                return {};
            }
            ++decoded;
            std::string error = converter.take(*frame);
            av_frame_unref(frame.get());
            if (!error.empty())
                return error;
        }
    };
    for (;;) {
        const int read = av_read_frame(file.get(), packet.get());
        if (read == AVERROR_EOF)
            break;
        if (read < 0)
            return failure("cannot read the file", read);
        if (packet->stream_index == stream->index) {
            if (const int sent = avcodec_send_packet(decoder.get(), packet.get()); sent < 0 && sent != AVERROR(EAGAIN)) {
                ++failed;
                lastError = sent;
            }
            if (std::string error = drain(); !error.empty())
                return error;
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    if (std::string error = drain(); !error.empty())
        return error;
    if (failed > 0 && failed * 3 > (decoded + failed) * 2)
        return failure("cannot decode its audio", lastError);
    return converter.finish();
}

}  // namespace stream_decoding
