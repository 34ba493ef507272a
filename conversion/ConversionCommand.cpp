#include "conversion/ConversionCommand.h"

#include "app/MediaExtensions.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"
#include "conversion/StreamRules.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace conversion_command {

namespace {

// Tags that describe the source's loudness: players would apply them to the changed level.
constexpr std::string_view kLoudnessTags[] = {
    "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK", "REPLAYGAIN_ALBUM_GAIN",
    "REPLAYGAIN_ALBUM_PEAK", "R128_TRACK_GAIN",       "R128_ALBUM_GAIN",
};

std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The value of a whole text read as a decimal number ("." whatever the locale).
std::optional<double> numberValue(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The volume filter and whether it changes the level at all.
struct Filter {
    std::string text;     // without the "-af"; empty for none
    bool changesLevel = false;
    std::string problem;  // set when the mode's value cannot be used
};

Filter filterFor(const ConversionRequest& r)
{
    Filter f;
    switch (r.mode) {
    case VolumeMode::ChangePercent:
        f.text = "volume=" + volumeFactorText(r.percent);
        f.changesLevel = r.percent != 100;
        break;
    case VolumeMode::ChangeGain:
        // The text goes into a filter description: anything but a number could add filters.
        if (!isPlainNumber(r.gainText)) {
            f.problem = "the gain \"" + r.gainText + "\" is not a number";
            break;
        }
        f.text = "volume=" + r.gainText + "dB";
        f.changesLevel = numberValue(r.gainText).value_or(0.0) != 0.0;
        break;
    case VolumeMode::PeakTrackGain:
        if (!r.peakGain)
            break;
        f.text = "volume=" + r.peakGain->appliedText() + "dB";
        f.changesLevel = r.peakGain->db != 0.0;
        break;
    case VolumeMode::RmsSingularly:
    case VolumeMode::RmsCollectively:
    case VolumeMode::RmsWeighted:
    case VolumeMode::RmsArithmetic:
        // The normaliser has already changed the WAV copy.
        f.changesLevel = true;
        break;
    }
    return f;
}

bool isVideoSource(const std::string& source)
{
    return media_extensions::belongsTo(source, media_extensions::video_exts);
}

// Output formats whose default audio encoder is Vorbis, where "-q:a 0" is a low quality.
bool encodesVorbis(const std::string& extension)
{
    return extension == ".ogg" || extension == ".mka" || extension == ".mkv";
}

// Containers that keep a cover picture as a picture when it is copied.
bool holdsPictures(const std::string& extension)
{
    return extension == ".mp3" || extension == ".flac" || extension == ".m4a";
}

// Containers that cannot hold a cover: the converter fails on it (ogg, ra) or turns it
// into a video track (wma).
bool refusesPictures(const std::string& extension)
{
    return extension == ".ogg" || extension == ".ra" || extension == ".wma";
}

void append(std::vector<std::string>& args, std::initializer_list<std::string> pieces)
{
    args.insert(args.end(), pieces);
}

void appendRmsMappings(std::vector<std::string>& args, const ConversionRequest& r,
                       bool videoSource, const std::string& outExtension)
{
    append(args, {"-map", "0:a:0"});
    if (videoSource) {
        const ProbeFacts& p = r.probe;
        if (p.streamCount >= 0) {
            for (int n = 0; n < p.streamCount; ++n)
                if (n != p.firstAudioStreamIndex)
                    append(args, {"-map", "1:" + std::to_string(n)});
        } else {
            // Without the stream count: every stream of the source but its first audio.
            append(args, {"-map", "1", "-map", "-1:a:0"});
        }
        append(args, {"-disposition:a:0", "default"});
    } else if (holdsPictures(outExtension)) {
        // The WAV copy holds no picture: take the source's attached pictures (every video
        // stream that "V", the real videos, leaves over).
        append(args, {"-map", "1:v?", "-map", "-1:V?"});
    }
    // Global tags and the audio stream's own tags (Vorbis comments live there) come from
    // the source; the WAV copy keeps only what its INFO list can hold.
    append(args, {"-map_metadata", "1:g", "-map_metadata:s:a:0", "1:s:a:0"});
}

void appendStreamOptions(std::vector<std::string>& args, const ConversionRequest& r,
                         bool videoSource, const std::string& sourceExtension,
                         const std::string& outExtension)
{
    const bool kept = sourceExtension == outExtension;
    if (!videoSource && refusesPictures(outExtension))
        append(args, {"-vn"});
    else if (kept || (!videoSource && outExtension == ".m4a"))
        append(args, {"-c:v", "copy"});  // re-encoding a cover for m4a would make it h264
    else
        append(args, {"-q:v", "0"});

    const ProbeFacts& p = r.probe;
    if (kept && p.audioBitRate > 0 && p.audioBitRate <= p.overallBitRate)
        append(args, {"-b:a", std::to_string(p.audioBitRate)});
    else
        append(args, {"-q:a", encodesVorbis(outExtension) ? "8" : "0"});
}

const char* kindText(TStreamKind kind)
{
    switch (kind) {
    case TStreamKind::Video:
        return "video";
    case TStreamKind::Audio:
        return "audio";
    case TStreamKind::Subtitle:
        return "subtitle";
    case TStreamKind::Attachment:
        return "attachment";
    case TStreamKind::Data:
        break;
    }
    return "data";
}

// Every stream of the source, in its order, each with what its kind needs in the output
// container; the first audio stream comes from the WAV copy in the RMS modes. A stream the
// container cannot take is left out and named in `note`.
void appendStreamPlan(std::vector<std::string>& args, const ConversionRequest& r, bool rms,
                      const std::string& outExtension, bool kept, std::string& note)
{
    const ProbeFacts& p = r.probe;
    const std::string input = rms ? "1:" : "0:";
    // A stream rate above the whole file's is a wrong figure, no rate to keep.
    auto rateKnown = [&](const TStreamFacts& s) {
        return s.BitRate > 0 && (p.overallBitRate <= 0 || s.BitRate <= p.overallBitRate);
    };
    const bool anyDefaultAudio = std::any_of(p.streams.begin(), p.streams.end(), [](const TStreamFacts& s) {
        return s.Kind == TStreamKind::Audio && s.Disposition.find("default") != std::string::npos;
    });
    int audioCount = 0;
    int videoCount = 0;
    int out = 0;
    for (int n = 0; n < static_cast<int>(p.streams.size()); ++n) {
        const TStreamFacts& s = p.streams[static_cast<std::size_t>(n)];
        std::vector<std::string> options;  // "-c", "copy", ... without the stream index
        std::string refusal;
        const bool replaced = rms && n == p.firstAudioStreamIndex;
        switch (s.Kind) {
        case TStreamKind::Audio: {
            const int limit = stream_rules::audioLimit(outExtension);
            if (limit >= 0 && audioCount >= limit) {
                refusal = "holds one audio stream only";
                break;
            }
            ++audioCount;
            if (rms && !replaced && kept) {
                options = {"-c", "copy"};
                break;
            }
            const std::string encoder = stream_rules::audioEncoder(s, outExtension, kept);
            if (!encoder.empty())
                options = {"-c", encoder};
            for (const stream_rules::Option& o : stream_rules::audioOptions(s, encoder, rateKnown(s)))
                options.insert(options.end(), {o.name, o.value});
            break;
        }
        case TStreamKind::Video:
            if (s.Picture) {
                // Ogg and ASF read covers but cannot write them, even back into themselves.
                if (stream_rules::holdsPictures(outExtension))
                    options = {"-c", "copy"};
                else
                    refusal = "cannot hold a cover picture";
                break;
            }
            if (!stream_rules::holdsVideo(outExtension)) {
                refusal = "holds no video";
                break;
            }
            if (const int limit = stream_rules::videoLimit(outExtension); limit >= 0 && videoCount >= limit) {
                refusal = "holds one video stream only";
                break;
            }
            ++videoCount;
            if (kept) {
                options = {"-c", "copy"};
            } else {
                options = {"-q", "0"};
                if (const std::string f = stream_rules::videoFilter(outExtension, s.Width, s.Height); !f.empty())
                    options.insert(options.end(), {"-filter", f});
            }
            break;
        case TStreamKind::Subtitle:
            if (const std::string encoder = stream_rules::subtitleEncoder(s.Codec, outExtension, kept);
                !encoder.empty())
                options = {"-c", encoder};
            else
                refusal = "cannot hold " + s.Codec + " subtitles";
            break;
        case TStreamKind::Attachment:
            if (kept || stream_rules::holdsAttachments(outExtension))
                options = {"-c", "copy"};
            else
                refusal = "cannot hold attachments";
            break;
        case TStreamKind::Data:
            refusal = "is written without data streams";
            break;
        }
        if (!refusal.empty()) {
            note += (note.empty() ? "Left out: " : "; ") + std::string(kindText(s.Kind)) + " stream #" +
                    std::to_string(n) + (s.Codec.empty() ? "" : " (" + s.Codec + ")") + ", " +
                    outExtension + " " + refusal;
            continue;
        }
        const std::string index = std::to_string(out);
        append(args, {"-map", replaced ? std::string("0:a:0") : input + std::to_string(n)});
        for (std::size_t i = 0; i + 1 < options.size(); i += 2)
            append(args, {options[i] + ":" + index, options[i + 1]});
        if (rms) {
            // Mapping any stream's tags switches off the converter's own copy for all of them.
            append(args, {"-map_metadata:s:" + index, input + "s:" + std::to_string(n)});
            if (replaced) {
                std::string disposition = s.Disposition;
                if (!anyDefaultAudio)
                    disposition = disposition == "0" ? "default" : disposition + "+default";
                append(args, {"-disposition:" + index, disposition});
            }
        }
        ++out;
    }
    if (rms)
        append(args, {"-map_metadata", "1:g", "-map_chapters", "1"});
}

void appendLoudnessTagRemoval(std::vector<std::string>& args, const std::string& audioStreams)
{
    // An empty value drops the tag; the converter matches keys in any letter case.
    for (std::string_view tag : kLoudnessTags)
        append(args, {"-metadata", std::string(tag) + "="});
    for (std::string_view tag : kLoudnessTags)
        append(args, {"-metadata:" + audioStreams, std::string(tag) + "="});
}

ConversionResult refused(const std::string& source, const std::string& reason)
{
    return {std::nullopt, "Cannot convert " + source + ": " + reason};
}

}  // namespace

bool isRmsMode(VolumeMode mode)
{
    return mode == VolumeMode::RmsSingularly || mode == VolumeMode::RmsCollectively ||
           mode == VolumeMode::RmsWeighted || mode == VolumeMode::RmsArithmetic;
}

std::string volumeFactorText(int percent)
{
    // Whole numbers of hundredths: exact, no exponent, no locale.
    const long long value = percent;
    const long long magnitude = std::llabs(value);
    std::string text = value < 0 ? "-" : "";
    text += std::to_string(magnitude / 100);
    const long long hundredths = magnitude % 100;
    if (hundredths != 0) {
        text += '.';
        text += static_cast<char>('0' + hundredths / 10);
        if (hundredths % 10 != 0)
            text += static_cast<char>('0' + hundredths % 10);
    }
    return text;
}

bool isPlainNumber(std::string_view text)
{
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    if (i != text.size())
        return false;
    const std::optional<double> value = numberValue(text);
    return value && std::isfinite(*value);
}

std::string wavCopyPath(const std::string& scratchFolder, int fileIndex)
{
    return output_names::joined(file_identity::absolutePath(scratchFolder),
                                std::to_string(fileIndex) + ".wav");
}

std::vector<std::string> wavExtractionArgs(const std::string& sourcePath,
                                           const std::string& wavPath, const ProbeFacts& probe)
{
    // The first audio stream by name: left to itself the converter picks the one with the
    // most channels, and the conversion puts the copy in place of the first.
    std::vector<std::string> args = {"-i",  file_identity::absolutePath(sourcePath),
                                     "-y",  "-map_metadata",
                                     "0:g", "-map",
                                     "0:a:0"};
    // Deeper or floating-point samples keep their depth (the converter's WAV default is
    // 16-bit); lossy sources have none of their own to keep.
    const auto first = static_cast<std::size_t>(probe.firstAudioStreamIndex);
    if (probe.firstAudioStreamIndex >= 0 && first < probe.streams.size()) {
        const std::string pcm = stream_rules::pcmEncoder(probe.streams[first], false);
        if (pcm != "pcm_s16le")
            append(args, {"-c:a", pcm});
    }
    args.push_back(file_identity::absolutePath(wavPath));
    return args;
}

ConversionResult buildConversion(const ConversionRequest& r)
{
    const std::string source = file_identity::absolutePath(r.sourcePath);
    if (output_names::fileNameOf(source).empty())
        return refused(r.sourcePath, "it has no file name");
    if (r.outputFolder.empty())
        return refused(source, "no output folder was chosen");
    if (r.prefix.find('/') != std::string::npos)
        return refused(source, "the prefix \"" + r.prefix + "\" holds a \"/\"");
    const bool rms = isRmsMode(r.mode);
    if (rms && r.scratchFolder.empty())
        return refused(source, "there is no scratch folder for the WAV copy");
    // The scratch folder is emptied at the end of every job, outputs and all.
    if (!r.scratchFolder.empty() && file_identity::sameEntry(r.outputFolder, r.scratchFolder))
        return refused(source, "the output folder " + r.outputFolder +
                                   " is the scratch folder, which is emptied after every job");

    const Filter filter = filterFor(r);
    if (!filter.problem.empty())
        return refused(source, filter.problem);

    const file_identity::GuardedNames sourceOnly =
        r.guarded ? file_identity::GuardedNames{} : file_identity::guardedNames({source});
    const file_identity::GuardedNames& guarded = r.guarded ? *r.guarded : sourceOnly;

    const std::string planned = output_names::plannedOutputPath(
        source, r.outputFolder, r.prefix, r.formatConverting, r.formatText);
    const output_names::FreeName output = output_names::firstFreeName(planned, guarded);
    if (output.path.empty())
        return refused(source, output.problem);
    const output_names::FreeName part = output_names::freePartFile(
        output.path, static_cast<long>(::getpid()), r.fileIndex, guarded);
    if (part.path.empty())
        return refused(source, part.problem);

    const bool videoSource = isVideoSource(source);
    const std::string sourceExtension = lowerAscii(media_extensions::extensionOf(source));
    const std::string outExtension = lowerAscii(media_extensions::extensionOf(output.path));

    ConversionCommand c;
    c.sourceFile = source;
    c.outputFile = output.path;
    c.writePath = part.path;
    if (rms)
        append(c.args, {"-i", wavCopyPath(r.scratchFolder, r.fileIndex), "-i", source});
    else
        append(c.args, {"-i", source});
    append(c.args, {"-y", "-map_metadata", "0:g"});
    const bool streamsKnown = !r.probe.streams.empty();
    if (streamsKnown) {
        appendStreamPlan(c.args, r, rms, outExtension, sourceExtension == outExtension, c.note);
    } else {
        // Nothing known of the streams: the converter's own choice, as far as it goes.
        if (rms)
            appendRmsMappings(c.args, r, videoSource, outExtension);
        appendStreamOptions(c.args, r, videoSource, sourceExtension, outExtension);
    }
    if (filter.changesLevel)
        appendLoudnessTagRemoval(c.args, streamsKnown && !rms ? "s:a" : "s:a:0");
    if (!filter.text.empty())
        append(c.args, {"-af", filter.text});
    c.args.push_back(c.writePath);
    return {std::move(c), {}};
}

}  // namespace conversion_command
