#include "conversion/StreamRules.h"

#include "conversion/ChannelLayouts.h"
#include "conversion/EncoderTable.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <limits>

namespace stream_rules {

namespace {

constexpr std::int64_t kKilo = 1000;
// Sample rates from here on are MPEG-1's; below, MPEG-2's smaller rate table applies.
constexpr int kMpeg1MinSampleRate = 32000;
// Channels assumed when the probe does not know them.
constexpr int kUsualChannels = 2;
// Best-quality settings on each encoder's own scale.
constexpr std::int64_t kAacBestPerChannel = 160 * kKilo;
constexpr std::int64_t kAacBestMax = 512 * kKilo;
constexpr std::int64_t kOpusBestPerChannel = 128 * kKilo;
constexpr std::int64_t kOpusBestMax = 510 * kKilo;
constexpr std::int64_t kAc3Best = 640 * kKilo;
constexpr std::int64_t kWmaBest = 320 * kKilo;
constexpr std::int64_t kMp2Best = 384 * kKilo;
constexpr std::int64_t kMp2LowRateBest = 160 * kKilo;
constexpr const char* kLameBestVbr = "0";
constexpr const char* kVorbisBest = "8";
constexpr int kCdBits = 16;
constexpr int kStudioBits = 24;
// soxr's "very high quality": 28 bits of precision.
constexpr const char* kResampler = "resampler=soxr:precision=28";
constexpr const char* kDither = "dither_method=triangular";

constexpr std::int64_t kAc3Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                      192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::int64_t kMp2Rates[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr std::int64_t kMp3Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::int64_t kMpeg2Rates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> list)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool isMatroska(std::string_view out) { return isOneOf(out, {".mkv", ".mka"}); }

bool isMp4Family(std::string_view out)
{
    return isOneOf(out, {".mp4", ".m4v", ".m4a", ".mov", ".3gp", ".3g2"});
}

template <std::size_t N>
std::int64_t nearestIn(const std::int64_t (&kilobits)[N], std::int64_t bitRate)
{
    std::int64_t best = kilobits[0] * kKilo;
    for (std::int64_t rate : kilobits)
        if (std::llabs(rate * kKilo - bitRate) < std::llabs(best - bitRate))
            best = rate * kKilo;
    return best;
}

int channelsOf(const TStreamFacts& s) { return s.Channels > 0 ? s.Channels : kUsualChannels; }

bool isFloatPcm(const TStreamFacts& s) { return s.Codec.rfind("pcm_f", 0) == 0; }

bool isLossless(const std::string& encoder)
{
    return encoder == "flac" || encoder == "alac" || encoder.rfind("pcm_", 0) == 0;
}

// The container's own best audio encoder, for a source codec it does not take or that has
// no encoder.
std::string containerEncoder(const TStreamFacts& s, std::string_view out)
{
    if (isOneOf(out, {".wav", ".wave"}))
        return pcmEncoder(s, false);
    if (isOneOf(out, {".aif", ".aiff", ".aifc", ".au", ".snd"}))
        return pcmEncoder(s, true);
    if (out == ".flac")
        return "flac";
    if (isOneOf(out, {".mp3", ".avi", ".swf"}))
        return "libmp3lame";
    if (isOneOf(out, {".ogg", ".oga", ".mkv", ".mka"}))
        return "libvorbis";
    if (isOneOf(out, {".opus", ".webm"}))
        return "libopus";
    if (isMp4Family(out) || isOneOf(out, {".aac", ".flv", ".ts", ".mts", ".m2ts", ".tp"}))
        return "aac";
    if (isOneOf(out, {".ac3", ".ra", ".rm", ".vob"}))
        return "ac3";
    if (isOneOf(out, {".wma", ".wmv", ".asf"}))
        return "wmav2";
    if (isOneOf(out, {".mp2", ".mpg", ".mpeg"}))
        return "mp2";
    return {};
}

// True when the container takes the source's codec as it is.
bool takesCodec(std::string_view codec, std::string_view out)
{
    if (isMatroska(out))
        return true;
    if (isMp4Family(out))
        return isOneOf(codec, {"aac", "alac"});
    return false;
}

// Bits of depth; floating point deeper than any integer.
int depthOf(int bits) { return bits == 0 ? std::numeric_limits<int>::max() : bits; }

// The shallowest format of a lossless encoder that keeps the source's depth (16 bits for a
// lossy source), else its deepest; "" for an encoder without a row.
std::string losslessFormat(const TStreamFacts& s, const std::string& encoder)
{
    const encoder_table::EncoderRow* row = encoder_table::rowOf(encoder);
    if (!row || row->sampleFormats.empty())
        return {};
    const int wanted = std::max(s.Bits, kCdBits);
    for (const encoder_table::SampleFormat& f : row->sampleFormats)
        if (depthOf(f.bits) >= wanted)
            return std::string(f.name);
    return std::string(row->sampleFormats.back().name);
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
    int deepest = 0;
    for (const encoder_table::SampleFormat& f : row->sampleFormats)
        deepest = std::max(deepest, depthOf(f.bits));
    if (deepest == kCdBits && s.Bits > kCdBits) {
        fit.dither = true;
        fit.changes.push_back(std::to_string(s.Bits) + "-bit reduced to 16-bit with dither");
    }
    return fit;
}

std::string pcmEncoder(const TStreamFacts& s, bool bigEndian)
{
    const char* end = bigEndian ? "be" : "le";
    if (isFloatPcm(s))
        return std::string("pcm_f32") + end;
    if (s.Bits > kStudioBits)
        return std::string("pcm_s32") + end;
    if (s.Bits > kCdBits)
        return std::string("pcm_s24") + end;
    return std::string("pcm_s16") + end;
}

std::string audioEncoder(const TStreamFacts& s, std::string_view out, bool kept)
{
    if (!s.Encoder.empty() && (kept || takesCodec(s.Codec, out)))
        return s.Encoder;
    return containerEncoder(s, out);
}

std::int64_t nearestBitRate(const std::string& encoder, std::int64_t bitRate, int sampleRate)
{
    const bool mpeg2Rates = sampleRate > 0 && sampleRate < kMpeg1MinSampleRate;
    if (encoder == "ac3" || encoder == "ac3_fixed")
        return nearestIn(kAc3Rates, bitRate);
    if (encoder == "mp2" || encoder == "mp2fixed")
        return mpeg2Rates ? nearestIn(kMpeg2Rates, bitRate) : nearestIn(kMp2Rates, bitRate);
    if (encoder == "libmp3lame")
        return mpeg2Rates ? nearestIn(kMpeg2Rates, bitRate) : nearestIn(kMp3Rates, bitRate);
    return bitRate;
}

std::vector<Option> audioOptions(const TStreamFacts& s, const std::string& encoder, bool rateKnown)
{
    if (isLossless(encoder)) {
        // The volume filter hands over floating point: say which depth the encoder keeps.
        if (const std::string format = losslessFormat(s, encoder); !format.empty())
            return {{"-sample_fmt", format}};
        return {};
    }
    if (rateKnown && encoder == s.Encoder && s.BitRate > 0)
        return {{"-b", std::to_string(nearestBitRate(encoder, s.BitRate, s.SampleRate))}};
    if (encoder == "libmp3lame")
        return {{"-q", kLameBestVbr}};
    if (encoder == "libvorbis")
        return {{"-q", kVorbisBest}};
    std::int64_t best = 0;
    if (encoder == "aac")
        best = std::min(kAacBestPerChannel * channelsOf(s), kAacBestMax);
    else if (encoder == "libopus")
        best = std::min(kOpusBestPerChannel * channelsOf(s), kOpusBestMax);
    else if (encoder == "ac3" || encoder == "ac3_fixed" || encoder == "eac3")
        best = kAc3Best;
    else if (encoder == "wmav2" || encoder == "wmav1")
        best = kWmaBest;
    else if (encoder == "mp2" || encoder == "mp2fixed")
        best = s.SampleRate > 0 && s.SampleRate < kMpeg1MinSampleRate ? kMp2LowRateBest : kMp2Best;
    if (best > 0)
        return {{"-b", std::to_string(best)}};
    return {{"-q", "0"}};
}

int audioLimit(std::string_view out)
{
    return isOneOf(out, {".wav", ".wave", ".mp3", ".flac", ".aac", ".ac3", ".mp2", ".aif", ".aiff",
                         ".aifc", ".au", ".snd", ".ra", ".rm", ".opus"})
               ? 1
               : -1;
}

int videoLimit(std::string_view out) { return out == ".rm" ? 1 : -1; }

bool holdsPictures(std::string_view out)
{
    return isMp4Family(out) || isMatroska(out) || isOneOf(out, {".mp3", ".flac"});
}

bool holdsVideo(std::string_view out)
{
    return !isOneOf(out, {".wav", ".wave", ".mp3", ".wma", ".aac", ".ac3", ".flac", ".m4a", ".mka",
                          ".mp2", ".ogg", ".oga", ".opus", ".ra", ".aif", ".aiff", ".aifc", ".au",
                          ".snd"});
}

bool holdsAttachments(std::string_view out) { return isMatroska(out); }

std::string subtitleEncoder(std::string_view codec, std::string_view out, bool kept)
{
    if (kept)
        return "copy";
    const bool text = isOneOf(codec, {"subrip", "ass", "ssa", "mov_text", "webvtt", "text"});
    if (isMatroska(out)) {
        if (codec == "mov_text")
            return "srt";
        return text || isOneOf(codec, {"dvd_subtitle", "dvb_subtitle", "hdmv_pgs_subtitle"}) ? "copy"
                                                                                           : "";
    }
    if (isOneOf(out, {".mp4", ".m4v", ".mov", ".3gp", ".3g2"}))
        return codec == "mov_text" ? "copy" : text ? "mov_text" : "";
    if (out == ".webm")
        return codec == "webvtt" ? "copy" : text ? "webvtt" : "";
    if (isOneOf(out, {".ts", ".mts", ".m2ts"}))
        return codec == "dvb_subtitle" ? "copy" : "";
    if (isOneOf(out, {".vob", ".mpg", ".mpeg"}))
        return codec == "dvd_subtitle" ? "copy" : "";
    return {};
}

std::string videoFilter(std::string_view out, int width, int height)
{
    if (out != ".rm")
        return {};
    // RealVideo 1.0 takes whole macroblocks only; the scaler keeps the shape on screen.
    static constexpr int kBlock = 16;
    auto rounded = [](int size) { return std::max(kBlock, (size + kBlock / 2) / kBlock * kBlock); };
    if (width > 0 && height > 0)
        return "scale=" + std::to_string(rounded(width)) + ":" + std::to_string(rounded(height));
    return "scale=trunc(iw/16)*16:trunc(ih/16)*16";
}

}  // namespace stream_rules
