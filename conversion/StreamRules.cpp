#include "conversion/StreamRules.h"

#include "conversion/ChannelLayouts.h"
#include "conversion/EncoderTable.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace stream_rules {

namespace {

constexpr std::int64_t kKilo = 1000;
// Channels assumed when the probe does not know them.
constexpr int kUsualChannels = 2;
constexpr int kCdBits = 16;
// soxr's "very high quality": 28 bits of precision.
constexpr const char* kResampler = "resampler=soxr:precision=28";
constexpr const char* kDither = "dither_method=triangular";

bool isListed(std::span<const std::string_view> list, std::string_view name)
{
    return std::find(list.begin(), list.end(), name) != list.end() ||
           std::find(list.begin(), list.end(), "*") != list.end();
}

int channelsOf(const TStreamFacts& s) { return s.Channels > 0 ? s.Channels : kUsualChannels; }

// The depth the source's samples need: floating point for float PCM, else their bits and at
// least 16 (lossy sources have none of their own).
int sourceDepth(const TStreamFacts& s)
{
    return encoder_table::isFloatPcm(s.Codec) ? std::numeric_limits<int>::max() : std::max(s.Bits, kCdBits);
}

int encoderDepth(std::string_view encoder)
{
    int deepest = 0;
    if (const encoder_table::EncoderRow* row = encoder_table::rowOf(encoder))
        for (const encoder_table::SampleFormat& f : row->sampleFormats)
            deepest = std::max(deepest, encoder_table::depthOf(f));
    return deepest;
}

// The first of a list (shallowest first) whose depth keeps the source's, else its last.
template <typename T, typename Depth>
const T& keepingDepth(std::span<const T> list, const TStreamFacts& s, Depth depth)
{
    for (const T& item : list)
        if (depth(item) >= sourceDepth(s))
            return item;
    return list.back();
}

std::string limitText(int limit, const std::string& kind)
{
    if (limit == 1)
        return "holds one " + kind + " stream only";
    return "holds " + std::to_string(limit) + " " + kind + " streams only";
}

std::int64_t nearestBitRate(const encoder_table::EncoderRow* row, std::int64_t bitRate, int sampleRate)
{
    if (!row || encoder_table::bitRatesAt(*row, sampleRate).empty())
        return bitRate;
    std::int64_t best = 0;
    for (const int kilobits : encoder_table::bitRatesAt(*row, sampleRate))
        if (best == 0 || std::llabs(kilobits * kKilo - bitRate) < std::llabs(best - bitRate))
            best = kilobits * kKilo;
    return best;
}

// The options that make `encoder` write the stream at the source's rate (when it is the
// source's own codec and `rateKnown`) or else at the encoder's best quality; lossless encoders
// keep the source's bit depth.
std::vector<Option> audioOptions(const TStreamFacts& s, const std::string& encoder, bool rateKnown)
{
    const encoder_table::EncoderRow* row = encoder_table::rowOf(encoder);
    if (encoder_table::isLossless(encoder)) {
        // The volume filter hands over floating point: say which depth the encoder keeps.
        if (row && row->sampleFormats.size() > 1)
            return {{"-sample_fmt", std::string(keepingDepth(row->sampleFormats, s, encoder_table::depthOf).name)}};
        return {};
    }
    if (rateKnown && encoder == s.Encoder && s.BitRate > 0)
        return {{"-b", std::to_string(nearestBitRate(row, s.BitRate, s.SampleRate))}};
    if (!row)
        return {{"-q", "0"}};
    if (!row->best.scale.empty())
        return {{"-q", std::string(row->best.scale)}};
    std::int64_t best = row->best.kilobits;
    if (row->best.perChannel > 0)
        best = std::min<std::int64_t>(row->best.perChannel * channelsOf(s), best);
    if (const auto rates = encoder_table::bitRatesAt(*row, s.SampleRate); !rates.empty())
        best = std::min<std::int64_t>(best, rates.back());
    return {{"-b", std::to_string(best * kKilo)}};
}

std::string layoutText(const TStreamFacts& s)
{
    if (!s.ChannelLayout.empty())
        return s.ChannelLayout;
    if (std::string name = channel_layouts::nameOf(s.ChannelMask); !name.empty())
        return name;
    return std::to_string(s.Channels) + " channels";
}

std::string rateText(int rate)
{
    std::string text = std::to_string(rate / 1000);
    if (int rest = rate % 1000; rest != 0) {
        std::string decimals = std::to_string(1000 + rest).substr(1);
        decimals.erase(decimals.find_last_not_of('0') + 1);
        text += "." + decimals;
    }
    return text + " kHz";
}

// The layout a downmix for the encoder goes to: the largest it names whose positions the source
// has (exactly before with exchanged surrounds), else stereo.
std::uint64_t downmixTarget(std::uint64_t from, const encoder_table::EncoderRow& row)
{
    std::vector<std::uint64_t> names;
    for (std::string_view name : row.layouts)
        names.push_back(channel_layouts::maskOf(name));
    if (names.empty())
        for (std::string_view name : {"mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"})
            names.push_back(channel_layouts::maskOf(name));
    std::uint64_t best = channel_layouts::maskOf("stereo");
    int bestScore = 0;
    for (std::uint64_t mask : names) {
        const int count = channel_layouts::channelCount(mask);
        if (count > row.maxChannels && row.maxChannels > 0)
            continue;
        const int score = channel_layouts::contains(from, mask) ? 2 * count + ((mask & ~from) == 0 ? 1 : 0) : 0;
        if (score > bestScore) {
            best = mask;
            bestScore = score;
        }
    }
    return best;
}

void fitChannels(const TStreamFacts& s, const encoder_table::EncoderRow& row, AudioFit& fit)
{
    const std::uint64_t from = s.ChannelMask;
    // A layout in an order of its own has no positions to mix by: the converter's choice.
    if (from == 0 || channel_layouts::channelCount(from) != s.Channels)
        return;
    const bool fits = row.maxChannels == 0 || s.Channels <= row.maxChannels;
    auto names = [&](std::uint64_t mask) {
        return std::find(row.layouts.begin(), row.layouts.end(), channel_layouts::nameOf(mask)) != row.layouts.end();
    };
    if (fits && (row.layouts.empty() || names(from)))
        return;
    const std::uint64_t exchanged = channel_layouts::surroundsExchanged(from);
    if (fits && exchanged != from && names(exchanged)) {
        fit.channelFilter = channel_layouts::relabelFilter(from, exchanged);
        return;
    }
    const std::uint64_t to = downmixTarget(from, row);
    fit.channelFilter = channel_layouts::downmixFilter(from, to);
    fit.downmix = true;
    fit.changes.push_back(layoutText(s) + " downmixed to " + channel_layouts::nameOf(to));
}

int fittingRate(int rate, const encoder_table::EncoderRow& row)
{
    if (row.outputRate > 0)
        return row.outputRate;
    if (!row.sampleRates.empty()) {
        int best = row.sampleRates.front();
        for (int r : row.sampleRates)
            if (std::abs(r - rate) <= std::abs(best - rate))
                best = r;
        return best;
    }
    return row.maxRate > 0 ? std::min(rate, row.maxRate) : rate;
}

AudioFit audioFit(const TStreamFacts& s, const std::string& encoder)
{
    AudioFit fit;
    const encoder_table::EncoderRow* row = encoder_table::rowOf(encoder);
    if (!row)
        return fit;
    fitChannels(s, *row, fit);
    if (s.SampleRate > 0) {
        if (const int rate = fittingRate(s.SampleRate, *row); rate != s.SampleRate) {
            fit.sampleRate = rate;
            fit.changes.push_back(rateText(s.SampleRate) + " resampled to " + rateText(rate));
        }
    }
    if (encoderDepth(encoder) == kCdBits && s.Bits > kCdBits) {
        fit.dither = true;
        fit.changes.push_back(std::to_string(s.Bits) + "-bit reduced to 16-bit with dither");
    }
    return fit;
}

}  // namespace

std::string AudioFit::resampleFilter() const
{
    std::string options;
    if (sampleRate > 0)
        options = std::string(kResampler) + ":osr=" + std::to_string(sampleRate);
    if (dither)
        options += std::string(options.empty() ? "" : ":") + "osf=s16:" + kDither;
    return options.empty() ? std::string() : "aresample=" + options;
}

std::string audioEncoder(const TStreamFacts& s, const Target& t)
{
    if (!s.Encoder.empty() && (t.kept || isListed(t.container.audioCodecs, s.Codec)))
        return s.Encoder;
    if (t.container.audioEncoders.empty())
        return {};
    return std::string(keepingDepth(t.container.audioEncoders, s, encoderDepth));
}

AudioPlan planAudio(const TStreamFacts& s, const Target& t, int written, bool unchanged, bool rateKnown)
{
    AudioPlan plan;
    if (written >= t.container.audioStreams) {
        plan.refusal = limitText(t.container.audioStreams, "audio");
        return plan;
    }
    plan.copied = unchanged && t.kept;
    if (plan.copied) {
        plan.options = {{"-c", "copy"}};
        return plan;
    }
    plan.encoder = audioEncoder(s, t);
    plan.fit = audioFit(s, plan.encoder);
    if (!plan.encoder.empty())
        plan.options = {{"-c", plan.encoder}};
    for (Option& o : audioOptions(s, plan.encoder, rateKnown))
        plan.options.push_back(std::move(o));
    return plan;
}

StreamPlan planVideo(const TStreamFacts& s, const Target& t, int written)
{
    const container_table::ContainerRow& c = t.container;
    if (s.Picture)
        return c.pictures != container_table::Pictures::Lost ? StreamPlan{{{"-c", "copy"}}, {}}
                                                             : StreamPlan{{}, "cannot hold a cover picture"};
    if (c.videoStreams == 0)
        return {{}, "holds no video"};
    if (written >= c.videoStreams)
        return {{}, limitText(c.videoStreams, "video")};
    if (t.kept)
        return {{{"-c", "copy"}}, {}};
    StreamPlan plan{{{"-q", "0"}}, {}};
    if (const int block = c.frameBlock; block > 0) {
        // Sizes rounded to whole blocks; the scaler keeps the shape on screen.
        auto rounded = [block](int size) { return std::max(block, (size + block / 2) / block * block); };
        const std::string b = std::to_string(block);
        plan.options.push_back({"-filter", s.Width > 0 && s.Height > 0
                                               ? "scale=" + std::to_string(rounded(s.Width)) + ":" +
                                                     std::to_string(rounded(s.Height))
                                               : "scale=trunc(iw/" + b + ")*" + b + ":trunc(ih/" + b + ")*" + b});
    }
    return plan;
}

StreamPlan planSubtitle(const TStreamFacts& s, const Target& t)
{
    if (t.kept || isListed(t.container.subtitleCodecs, s.Codec))
        return {{{"-c", "copy"}}, {}};
    if (!t.container.textSubtitles.empty() && container_table::isTextSubtitle(s.Codec))
        return {{{"-c", std::string(t.container.textSubtitles)}}, {}};
    return {{}, "cannot hold " + s.Codec + " subtitles"};
}

StreamPlan planAttachment(const TStreamFacts&, const Target& t)
{
    if (t.kept || t.container.attachments)
        return {{{"-c", "copy"}}, {}};
    return {{}, "cannot hold attachments"};
}

StreamPlan planData(const TStreamFacts&, const Target& t)
{
    if (t.container.dataStreams)
        return {{{"-c", "copy"}}, {}};
    return {{}, "is written without data streams"};
}

}  // namespace stream_rules
