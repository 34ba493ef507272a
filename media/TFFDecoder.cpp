#include "media/TFFDecoder.h"

#include "media/FFErrorText.h"
#include "media/ProbeRules.h"
#include "media/TFFEntryPoints.h"
#include "media/TFFLoader.h"
#include "media/TFFLogger.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

void closeInput(AVFormatContext* context)
{
    // Once avformat is unloaded there is nothing left to close the context with.
    if (context && FF.avformat_close_input)
        FF.avformat_close_input(&context);
}

using InputPtr = std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)>;

std::int32_t clampedBitRate(std::int64_t bitRate)
{
    if (bitRate > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(bitRate);
}

std::string tagValue(const AVDictionary* tags, const char* key)
{
    // No flags: the key must match exactly, letter case aside; the first match wins.
    const AVDictionaryEntry* entry = FF.av_dict_get(tags, key, nullptr, 0);
    return entry && entry->value ? entry->value : "";
}

std::string codecNameText(const AVCodecParameters& codec)
{
    const AVCodec* decoder = FF.avcodec_find_decoder(codec.codec_id);
    return probe_rules::codecNameText(decoder ? decoder->name : nullptr,
                                      decoder ? decoder->long_name : nullptr, codec.codec_id,
                                      codec.codec_tag);
}

void closeIO(AVIOContext* io)
{
    if (io && FF.avio_closep)
        FF.avio_closep(&io);
}

using IOPtr = std::unique_ptr<AVIOContext, void (*)(AVIOContext*)>;

struct Detected {
    const AVInputFormat* format = nullptr;
    int score = 0;
};

// The format FFmpeg would pick for the file, found from its name and first bytes alone,
// before any demuxer reads it, with its probe score; no format when none fits or the file
// cannot be read (opening it again then reports why). The context lends its I/O watch and
// names the messages.
Detected detectedFormat(const std::string& fileName, AVFormatContext& context)
{
    AVIOContext* opened = nullptr;
    if (FF.avio_open2(&opened, fileName.c_str(), AVIO_FLAG_READ, &context.interrupt_callback,
                      nullptr) < 0)
        return {};
    const IOPtr io(opened, &closeIO);
    Detected detected;
    const int score =
        FF.av_probe_input_buffer2(io.get(), &detected.format, fileName.c_str(), &context, 0, 0);
    if (score < 0)
        return {};
    detected.score = score;
    return detected;
}

std::string referringFormatText(const std::string& fileName, const char* formatName)
{
    return fileName + ": not read: its content is a playlist or a description (" + formatName
           + ") that names other files or addresses";
}

void logError(const std::string& message) { TFFLogger::Instance().Log(AV_LOG_ERROR, message); }

}  // namespace

struct TFFDecoder::Impl {
    explicit Impl(const TFFDecoder& owner) : owner(owner) {}

    const TFFDecoder& owner;
    InputPtr input{nullptr, &closeInput};
    std::string forcedFormatName;
    std::int64_t watchStart = probe_rules::kWatchDisarmed;

    void StartWatch() { watchStart = FF.av_gettime(); }

    // FFmpeg polls this during blocking input; non-zero abandons the call.
    static int IOWatch(void* opaque)
    {
        auto* self = static_cast<Impl*>(opaque);
        if (!probe_rules::ioWatchExpired(self->watchStart, self->owner.IOTimeout, FF.av_gettime()))
            return 0;
        logError(self->watchStart == 0 ? "connecting/reading canceled"
                                       : "connecting/reading timeout");
        return 1;
    }
};

TFFDecoder::TFFDecoder() : impl_(std::make_unique<Impl>(*this)) {}

TFFDecoder::~TFFDecoder() = default;

bool TFFDecoder::Fail(const std::string& message)
{
    lastErrorMessage_ = message;
    CloseFile();
    return false;
}

bool TFFDecoder::LoadFile(const std::string& fileName, const std::string& formatName)
{
    TFFLoader::Instance().CheckLibraries(probe_libraries);
    CloseFile();

    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = FF.av_find_input_format(formatName.c_str());
        if (!format) {
            logError("Unknown input format: " + formatName);
            return Fail("Unknown input format: " + formatName);
        }
    }
    // FFmpeg takes a C string: a name holding NUL would open a shorter, other name.
    if (fileName.find('\0') != std::string::npos)
        return Fail(fileName + ": " + ff_error_text::errorText(AVERROR(ENOENT)));

    AVFormatContext* context = FF.avformat_alloc_context();
    if (!context)
        return Fail(fileName + ": " + ff_error_text::errorText(AVERROR(ENOMEM)));
    context->interrupt_callback.callback = &Impl::IOWatch;
    context->interrupt_callback.opaque = impl_.get();

    // A playlist's demuxer would read the files and addresses it names while it opens.
    impl_->StartWatch();
    const Detected detected = format ? Detected{format, 0} : detectedFormat(fileName, *context);
    if (detected.format && probe_rules::readsOtherSources(detected.format->name)) {
        closeInput(context);
        return Fail(referringFormatText(fileName, detected.format->name));
    }

    // Demuxer options: none are set by this program, but any left over are reported.
    AVDictionary* options = nullptr;
    impl_->StartWatch();
    // On failure FFmpeg frees the context itself and nulls the pointer.
    // The format found above is handed on: probing every demuxer again costs as much as the
    // rest of a short file's probe.
    int result = FF.avformat_open_input(&context, fileName.c_str(), detected.format, &options);
    if (result < 0) {
        FF.av_dict_free(&options);
        return Fail(fileName + ": " + ff_error_text::errorText(result));
    }
    if (!format && detected.format)
        context->probe_score = detected.score;  // as if FFmpeg had probed it itself
    impl_->input.reset(context);
    for (const AVDictionaryEntry* entry = nullptr;
         (entry = FF.av_dict_get(options, "", entry, AV_DICT_IGNORE_SUFFIX));)
        TFFLogger::Instance().Log(AV_LOG_WARNING,
                                  std::string("Option ") + entry->key + " not found, ignored.");
    FF.av_dict_free(&options);

    context->flags |= AVFMT_FLAG_NONBLOCK;
    if (OnBeforeFindStreamInfo)
        OnBeforeFindStreamInfo(*this);

    impl_->StartWatch();
    if (FF.avformat_find_stream_info(context, nullptr) < 0)
        return Fail(fileName + ": could not find codec parameters");
    if (context->pb) {
        context->pb->eof_reached = 0;
        context->pb->error = 0;
    }
    Refresh();
    impl_->forcedFormatName = formatName;
    return true;
}

void TFFDecoder::CloseFile()
{
    impl_->forcedFormatName.clear();
    impl_->input.reset();
    Refresh();
}

void TFFDecoder::Refresh()
{
    fileSize_ = streamCount_ = programCount_ = -1;
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
    firstAudioStreamIndex_ = firstVideoStreamIndex_ = firstSubtitleStreamIndex_ = -1;
    const AVFormatContext* context = impl_->input.get();
    if (!context)
        return;

    if (context->iformat->flags & AVFMT_NOFILE || !context->pb)
        fileSize_ = 0;
    else
        fileSize_ = std::max<std::int64_t>(FF.avio_size(context->pb), 0);
    struct stat entry {};
    if (fileSize_ <= 0 && context->url && ::stat(context->url, &entry) == 0 &&
        S_ISREG(entry.st_mode))
        fileSize_ = entry.st_size;

    streamCount_ = static_cast<std::int32_t>(context->nb_streams);
    programCount_ = static_cast<std::int32_t>(context->nb_programs);
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
    for (std::int32_t i = 0; i < streamCount_; ++i) {
        auto count = [i](std::int32_t& counter, std::int32_t& first) {
            ++counter;
            if (first < 0)
                first = i;
        };
        switch (context->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            count(videoStreamCount_, firstVideoStreamIndex_);
            break;
        case AVMEDIA_TYPE_AUDIO:
            count(audioStreamCount_, firstAudioStreamIndex_);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            count(subtitleStreamCount_, firstSubtitleStreamIndex_);
            break;
        default:
            break;
        }
    }
}

void TFFDecoder::GetFileInfo(TFileStreamInfo& info)
{
    info = TFileStreamInfo{};
    const AVFormatContext* context = impl_->input.get();
    if (!context) {
        lastErrorMessage_ = "file not loaded.";
        TFFLogger::Instance().Log(AV_LOG_WARNING, lastErrorMessage_);
        return;
    }
    info.StartTime = context->start_time;
    info.Duration = context->duration == AV_NOPTS_VALUE ? -1 : context->duration;
    info.DurationGuessed = context->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    info.BitRate = clampedBitRate(context->bit_rate);
    const AVDictionary* tags = context->metadata;
    info.Year = probe_rules::tagInteger(tagValue(tags, "year"));
    info.Track = probe_rules::tagInteger(tagValue(tags, "track"));
    info.Title = tagValue(tags, "title");
    info.Author = tagValue(tags, "author");
    info.Copyright = tagValue(tags, "copyright");
    info.Comment = tagValue(tags, "comment");
    info.Album = tagValue(tags, "album");
    info.Genre = tagValue(tags, "genre");
}

namespace {

// What audio and video share: picks the stream, fills the common fields. Returns the stream,
// or null with the message to store.
template <typename Info>
AVStream* fillCommon(AVFormatContext* context, int index, int firstIndex, AVMediaType type,
                     const char* kind, Info& info, std::string& message)
{
    if (!context) {
        message = "file not loaded.";
        TFFLogger::Instance().Log(AV_LOG_WARNING, message);
        return nullptr;
    }
    if (index < 0) {
        index = firstIndex;
        if (index < 0) {
            message = std::string("no ") + kind + " stream.";
            logError(message);
            return nullptr;
        }
    }
    if (index >= static_cast<int>(context->nb_streams)) {
        message = "stream index #" + std::to_string(index) + " is invalid.";
        logError(message);
        return nullptr;
    }
    AVStream* stream = context->streams[index];
    if (stream->codecpar->codec_type != type) {
        message = "stream #" + std::to_string(index) + " is not " + kind + " stream.";
        logError(message);
        return nullptr;
    }
    info.Language = tagValue(stream->metadata, "language");
    info.CodecName = codecNameText(*stream->codecpar);
    // A zero denominator would divide by zero in every rescale; fix it in the stream.
    if (stream->time_base.den == 0)
        stream->time_base.den = stream->time_base.num != 0 ? stream->time_base.num : 1;
    constexpr AVRational microseconds{1, AV_TIME_BASE};
    info.StartTime = stream->start_time;
    if (stream->start_time != AV_NOPTS_VALUE)
        info.StartTimeUs = FF.av_rescale_q(stream->start_time, stream->time_base, microseconds);
    info.Duration = stream->duration;
    if (stream->duration != AV_NOPTS_VALUE)
        info.DurationUs = FF.av_rescale_q(stream->duration, stream->time_base, microseconds);
    info.BitRate = clampedBitRate(stream->codecpar->bit_rate);
    return stream;
}

}  // namespace

bool TFFDecoder::GetAudioStreamInfo(int index, TAudioStreamInfo& info)
{
    info = TAudioStreamInfo{};
    AVStream* stream = fillCommon(impl_->input.get(), index, firstAudioStreamIndex_,
                                  AVMEDIA_TYPE_AUDIO, "audio", info, lastErrorMessage_);
    if (!stream)
        return false;
    const AVCodecParameters& codec = *stream->codecpar;
    info.Channels = codec.ch_layout.nb_channels;
    info.SampleRate = codec.sample_rate;
    info.SampleFormat = codec.format;
    return true;
}

bool TFFDecoder::GetVideoStreamInfo(int index, TVideoStreamInfo& info)
{
    info = TVideoStreamInfo{};
    AVStream* stream = fillCommon(impl_->input.get(), index, firstVideoStreamIndex_,
                                  AVMEDIA_TYPE_VIDEO, "video", info, lastErrorMessage_);
    if (!stream)
        return false;
    const AVCodecParameters& codec = *stream->codecpar;
    info.Height = codec.height;
    info.Width = codec.width;
    const AVRational sar =
        stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio : codec.sample_aspect_ratio;
    info.SampleAspectRational = {sar.num, sar.den};
    info.SampleAspectRatio = sar.den != 0 ? static_cast<float>(sar.num) / sar.den : 0.0f;
    if (sar.num != 0) {
        int num = 0;
        int den = 1;
        FF.av_reduce(&num, &den, static_cast<std::int64_t>(info.Width) * sar.num,
                     static_cast<std::int64_t>(info.Height) * sar.den, 1024 * 1024);
        info.DisplayAspectRational = {num, den};
        if (den != 0)
            info.DisplayAspectRatio = static_cast<float>(num) / den;
    }
    info.PixelFormat = codec.format;
    const AVRational rate = stream->avg_frame_rate.num != 0 && stream->avg_frame_rate.den != 0
                                ? stream->avg_frame_rate
                                : stream->r_frame_rate;
    info.FrameRate = {rate.num, rate.den};
    return true;
}

std::map<std::string, std::string> TFFDecoder::Tags() const
{
    std::map<std::string, std::string> tags;
    const AVFormatContext* context = impl_->input.get();
    if (!context)
        return tags;
    for (const AVDictionaryEntry* entry = nullptr;
         (entry = FF.av_dict_get(context->metadata, "", entry, AV_DICT_IGNORE_SUFFIX));)
        tags.emplace(entry->key, entry->value ? entry->value : "");
    return tags;
}

namespace {

TStreamKind kindOf(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return TStreamKind::Video;
    case AVMEDIA_TYPE_AUDIO:
        return TStreamKind::Audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return TStreamKind::Subtitle;
    case AVMEDIA_TYPE_ATTACHMENT:
        return TStreamKind::Attachment;
    default:
        return TStreamKind::Data;
    }
}

// The flags as the converter's "-disposition" option reads them.
std::string dispositionText(int flags)
{
    static constexpr std::pair<int, const char*> kNames[] = {
        {AV_DISPOSITION_DEFAULT, "default"},
        {AV_DISPOSITION_DUB, "dub"},
        {AV_DISPOSITION_ORIGINAL, "original"},
        {AV_DISPOSITION_COMMENT, "comment"},
        {AV_DISPOSITION_LYRICS, "lyrics"},
        {AV_DISPOSITION_KARAOKE, "karaoke"},
        {AV_DISPOSITION_FORCED, "forced"},
        {AV_DISPOSITION_HEARING_IMPAIRED, "hearing_impaired"},
        {AV_DISPOSITION_VISUAL_IMPAIRED, "visual_impaired"},
        {AV_DISPOSITION_CLEAN_EFFECTS, "clean_effects"},
        {AV_DISPOSITION_CAPTIONS, "captions"},
        {AV_DISPOSITION_DESCRIPTIONS, "descriptions"},
    };
    std::string text;
    for (const auto& [flag, name] : kNames)
        if (flags & flag)
            text.append(text.empty() ? "" : "+").append(name);
    return text.empty() ? "0" : text;
}

// The layout's name and positions. The converter takes a file without a layout for the usual
// one of its channel count; a layout in an order of its own has no positions to plan with.
void channelLayoutFacts(const AVChannelLayout& layout, TStreamFacts& facts)
{
    if (layout.order == AV_CHANNEL_ORDER_NATIVE) {
        char name[128] = {};
        if (FF.av_channel_layout_describe(&layout, name, sizeof name) > 0)
            facts.ChannelLayout = name;
        facts.ChannelMask = layout.u.mask;
    } else if (layout.order == AV_CHANNEL_ORDER_UNSPEC && layout.nb_channels > 0) {
        AVChannelLayout usual{};
        FF.av_channel_layout_default(&usual, layout.nb_channels);
        if (usual.order == AV_CHANNEL_ORDER_NATIVE)
            facts.ChannelMask = usual.u.mask;
    }
}

bool isFloatFormat(int format)
{
    return format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP ||
           format == AV_SAMPLE_FMT_DBL || format == AV_SAMPLE_FMT_DBLP;
}

}  // namespace

bool TFFDecoder::GetStreamFacts(int index, TStreamFacts& facts)
{
    facts = TStreamFacts{};
    const AVFormatContext* context = impl_->input.get();
    if (!context || index < 0 || index >= static_cast<int>(context->nb_streams))
        return false;
    const AVStream& stream = *context->streams[index];
    const AVCodecParameters& codec = *stream.codecpar;
    facts.Kind = kindOf(codec.codec_type);
    if (const char* name = FF.avcodec_get_name(codec.codec_id))
        facts.Codec = name;
    if (const AVCodec* encoder = FF.avcodec_find_encoder(codec.codec_id))
        facts.Encoder = encoder->name;
    facts.Disposition = dispositionText(stream.disposition);
    facts.Picture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    facts.BitRate = std::max<std::int64_t>(codec.bit_rate, 0);
    if (facts.Kind == TStreamKind::Audio) {
        facts.FloatSamples = isFloatFormat(codec.format);
        // PCM says its depth in the coded size; lossless codecs in the raw size.
        const bool pcm = facts.Codec.rfind("pcm_", 0) == 0;
        facts.Bits = codec.bits_per_raw_sample > 0 ? codec.bits_per_raw_sample
                     : pcm                         ? codec.bits_per_coded_sample
                                                   : 0;
        facts.SampleRate = codec.sample_rate;
        facts.Channels = codec.ch_layout.nb_channels;
        channelLayoutFacts(codec.ch_layout, facts);
    } else if (facts.Kind == TStreamKind::Video) {
        facts.Width = codec.width;
        facts.Height = codec.height;
    }
    return true;
}
