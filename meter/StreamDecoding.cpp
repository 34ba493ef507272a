#include "meter/StreamDecoding.h"

#include "meter/FFmpegHandles.h"
#include "meter/SampleConverter.h"

namespace stream_decoding {

using namespace ffmpeg_handles;

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

    SampleConverter converter(input, sink);
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
