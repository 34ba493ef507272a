#include "conversion/ConversionCommand.h"

#include "base/MediaExtensions.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"
#include "conversion/StreamRules.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

namespace conversion_command {

namespace {

// Names of the loudness meters of a stream n: "src<n>" before its downmix, "mix<n>" after it;
// their summaries carry these names.
constexpr std::string_view kSourceMeter = "src";
constexpr std::string_view kDownmixMeter = "mix";
// A correction beyond this is a measurement gone wrong (a downmix whose channels cancel).
constexpr double kMaxDownmixGainDb = 20.0;

// The meter filter of that name; at the verbose level its lines of every 100 ms stay out of
// the output.
std::string meter(std::string_view name, const std::string& id)
{
    return "ebur128@" + std::string(name) + id + "=framelog=verbose";
}

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
    if (r.unchanged)
        return f;
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

void append(std::vector<std::string>& args, std::initializer_list<std::string> pieces)
{
    args.insert(args.end(), pieces);
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

// The output container's row; the source's own when the extensions agree.
stream_rules::Target targetOf(const std::string& source, const std::string& outExtension)
{
    return {container_table::rowOf(outExtension), lowerAscii(media_extensions::extensionOf(source)) == outExtension};
}

bool streamsRead(const ProbeFacts& p)
{
    return !p.streams.empty() && static_cast<int>(p.streams.size()) >= p.streamCount;
}

// A stream rate above the whole file's is a wrong figure, no rate to keep.
bool rateKnown(const TStreamFacts& s, const ProbeFacts& p)
{
    return s.BitRate > 0 && (p.overallBitRate <= 0 || s.BitRate <= p.overallBitRate);
}

// The plan of every audio stream of the source, by stream index. In the RMS modes the first
// comes from the WAV copy and the level of the others stays.
std::map<int, stream_rules::AudioPlan> audioPlans(const ConversionRequest& r, bool rms,
                                                  const stream_rules::Target& target)
{
    std::map<int, stream_rules::AudioPlan> plans;
    int written = 0;
    for (int n = 0; n < static_cast<int>(r.probe.streams.size()); ++n) {
        const TStreamFacts& s = r.probe.streams[static_cast<std::size_t>(n)];
        if (s.Kind != TStreamKind::Audio)
            continue;
        const bool unchanged = r.unchanged || (rms && n != r.probe.firstAudioStreamIndex);
        stream_rules::AudioPlan& plan = plans[n] = stream_rules::planAudio(s, target, written, unchanged,
                                                                          rateKnown(s, r.probe));
        if (plan.refusal.empty())
            ++written;
    }
    return plans;
}

// The output container's row for the row's planned output.
stream_rules::Target plannedTarget(const ConversionRequest& r)
{
    const std::string source = file_identity::absolutePath(r.sourcePath);
    return targetOf(source, lowerAscii(output_names::outputExtension(source, r.formatConverting, r.formatText)));
}

// The volume filter of a downmix's correction, in hundredths of a dB.
std::string correctionFilter(double gainDb)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, gainDb, std::chars_format::fixed, 2);
    return "volume=" + std::string(text, error == std::errc() ? end : text) + "dB";
}

// The filters of one audio stream: its channels, the mode's level change, the downmix's
// correction, then rate and depth. "" when it needs none.
std::string audioFilters(const stream_rules::AudioPlan& plan, const std::string& levelFilter,
                         std::optional<double> gain)
{
    std::string chain = plan.fit.channelFilter;
    auto add = [&](const std::string& filter) {
        if (!filter.empty())
            chain += (chain.empty() ? "" : ",") + filter;
    };
    add(levelFilter);
    if (gain)
        add(correctionFilter(*gain));
    add(plan.fit.resampleFilter());
    return chain;
}

// Every stream of the source, in its order, each as its kind's planner writes it into the
// output container; the first audio stream comes from the WAV copy in the RMS modes. A stream
// the container cannot take is left out and named in `note`, with what changed in those it
// takes. Returns the filters of the audio streams ("-filter:<index>", chain, ...) when some
// stream needs filters of its own, each with the level filter; empty when "-af" serves all.
std::vector<std::string> appendStreamPlan(std::vector<std::string>& args, const ConversionRequest& r,
                                          const std::map<int, stream_rules::AudioPlan>& plans, bool rms,
                                          const stream_rules::Target& target, const std::string& outExtension,
                                          const std::string& levelFilter, std::string& note)
{
    const ProbeFacts& p = r.probe;
    const std::string input = rms ? "1:" : "0:";
    const bool anyDefaultAudio = std::any_of(p.streams.begin(), p.streams.end(), [](const TStreamFacts& s) {
        return s.Kind == TStreamKind::Audio && s.Disposition.find("default") != std::string::npos;
    });
    const bool ownFilters = std::any_of(plans.begin(), plans.end(), [](const auto& entry) {
        return !entry.second.fit.channelFilter.empty() || !entry.second.fit.resampleFilter().empty();
    });
    const int audioStreams = static_cast<int>(plans.size());
    std::vector<std::string> filters;  // "-filter:<index>", chain, ...
    std::string leftOut;
    std::string changed;
    int videoCount = 0;
    int out = 0;
    for (int n = 0; n < static_cast<int>(p.streams.size()); ++n) {
        const TStreamFacts& s = p.streams[static_cast<std::size_t>(n)];
        const std::string index = std::to_string(out);
        stream_rules::StreamPlan plan;
        switch (s.Kind) {
        case TStreamKind::Audio: {
            const stream_rules::AudioPlan& audio = plans.at(n);
            plan = audio;
            if (!plan.refusal.empty() || audio.copied)
                break;
            std::optional<double> gain;
            if (const auto found = r.downmixGains.find(n); audio.fit.downmix && found != r.downmixGains.end())
                gain = found->second;
            if (ownFilters)
                if (const std::string chain = audioFilters(audio, levelFilter, gain); !chain.empty())
                    filters.insert(filters.end(), {"-filter:" + index, chain});
            for (const std::string& change : audio.fit.changes)
                changed += (changed.empty() ? "" : "; ") +
                           (audioStreams > 1 ? "audio stream #" + std::to_string(n) + ": " : "") + change;
            break;
        }
        case TStreamKind::Video:
            plan = stream_rules::planVideo(s, target, videoCount);
            videoCount += plan.refusal.empty() && !s.Picture ? 1 : 0;
            break;
        case TStreamKind::Subtitle:
            plan = stream_rules::planSubtitle(s, target);
            break;
        case TStreamKind::Attachment:
            plan = stream_rules::planAttachment(s, target);
            break;
        case TStreamKind::Data:
            plan = stream_rules::planData(s, target);
            break;
        }
        if (!plan.refusal.empty()) {
            leftOut += (leftOut.empty() ? "Left out: " : "; ") + std::string(kindText(s.Kind)) + " stream #" +
                       std::to_string(n) + (s.Codec.empty() ? "" : " (" + s.Codec + ")") + ", " +
                       outExtension + " " + plan.refusal;
            continue;
        }
        const bool replaced = rms && n == p.firstAudioStreamIndex;
        append(args, {"-map", replaced ? std::string("0:a:0") : input + std::to_string(n)});
        for (const stream_rules::Option& o : plan.options)
            append(args, {o.name + ":" + index, o.value});
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
    note = leftOut + (leftOut.empty() || changed.empty() ? "" : "; ") + changed;
    return filters;
}

// Measures each stream that is mixed down and has no correction yet, before and after its
// downmix, in one output of the converter's run that writes nothing.
std::vector<std::string> measurementOutput(const std::map<int, stream_rules::AudioPlan>& plans,
                                           const std::map<int, double>& known)
{
    std::vector<std::string> args;
    int k = 0;
    for (const auto& [n, plan] : plans) {
        if (!plan.fit.downmix || known.count(n))
            continue;
        const std::string id = std::to_string(n);
        append(args, {"-map", "0:" + id, "-filter:" + std::to_string(k++),
                      meter(kSourceMeter, id) + "," + plan.fit.channelFilter + "," + meter(kDownmixMeter, id) +
                          ":peak=sample"});
    }
    if (!args.empty())
        append(args, {"-f", "null", "nul"});
    return args;
}

// Tags that describe the source's loudness: players would apply them to the changed level, and
// a tagged copy must not carry them twice.
void appendLoudnessTagRemoval(std::vector<std::string>& args, const std::string& audioStreams)
{
    // An empty value drops the tag; the converter matches keys in any letter case.
    for (std::string_view tag : loudness_tags::loudnessKeys())
        append(args, {"-metadata", std::string(tag) + "="});
    for (std::string_view tag : loudness_tags::loudnessKeys())
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

std::string wavCopyEncoder(const TStreamFacts& stream)
{
    return stream_rules::audioEncoder(stream, {container_table::rowOf(".wav"), false});
}

std::vector<std::string> wavExtractionArgs(const std::string& sourcePath, const std::string& wavPath,
                                           const ProbeFacts& probe, const std::string& downmix)
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
    if (!downmix.empty()) {
        // Floating point: the corrected mix may rise above full scale, which the normaliser's
        // limiter is to hold rather than the copy clip.
        append(args, {"-af", downmix, "-c:a", "pcm_f32le"});
    } else if (probe.firstAudioStreamIndex >= 0 && first < probe.streams.size()) {
        const std::string pcm = wavCopyEncoder(probe.streams[first]);
        if (pcm != container_table::rowOf(".wav").audioEncoders.front())
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
    const bool rms = isRmsMode(r.mode) && !r.unchanged;
    if (rms && r.scratchFolder.empty())
        return refused(source, "there is no scratch folder for the WAV copy");
    // The scratch folder is emptied at the end of every job, outputs and all.
    if (!r.scratchFolder.empty() && file_identity::sameEntry(r.outputFolder, r.scratchFolder))
        return refused(source, "the output folder " + r.outputFolder +
                                   " is the scratch folder, which is emptied after every job");

    const Filter filter = filterFor(r);
    if (!filter.problem.empty())
        return refused(source, filter.problem);
    // Every stream is written by what it is: without them the output could lose or change some.
    if (!streamsRead(r.probe))
        return refused(source, "its streams could not be read");
    loudness_tags::Tags tags;
    if (r.tagsOnly) {
        if (!r.tagLevels)
            return refused(source, "its loudness could not be measured");
        // The copy keeps its source's container (the job asks for no format conversion).
        tags = loudness_tags::forContainer(media_extensions::extensionOf(source), *r.tagLevels);
        if (!tags.refusal.empty())
            return refused(source, tags.refusal);
    }

    const file_identity::GuardedNames sourceOnly =
        r.guarded ? file_identity::GuardedNames{} : file_identity::guardedNames({source});
    const file_identity::GuardedNames& guarded = r.guarded ? *r.guarded : sourceOnly;

    // A row built again after its measurement keeps the name it was given then.
    const output_names::FreeName output =
        !r.outputFile.empty() ? output_names::FreeName{r.outputFile, {}}
                              : output_names::firstFreeName(output_names::plannedOutputPath(
                                                                source, r.outputFolder, r.prefix,
                                                                r.formatConverting, r.formatText),
                                                            guarded);
    if (output.path.empty())
        return refused(source, output.problem);
    const output_names::FreeName part = output_names::freePartFile(
        output.path, static_cast<long>(::getpid()), r.fileIndex, guarded);
    if (part.path.empty())
        return refused(source, part.problem);

    const std::string outExtension = lowerAscii(media_extensions::extensionOf(output.path));
    const stream_rules::Target target = targetOf(source, outExtension);

    ConversionCommand c;
    c.sourceFile = source;
    c.outputFile = output.path;
    c.writePath = part.path;
    if (rms)
        append(c.args, {"-i", wavCopyPath(r.scratchFolder, r.fileIndex), "-i", source});
    else
        append(c.args, {"-i", source});
    append(c.args, {"-y", "-map_metadata", "0:g"});
    std::map<int, stream_rules::AudioPlan> plans = audioPlans(r, rms, target);
    // The WAV copy holds the first stream mixed down already (copyDownmix).
    if (const auto first = plans.find(r.probe.firstAudioStreamIndex); rms && first != plans.end()
                                                                        && first->second.fit.downmix) {
        first->second.fit.channelFilter.clear();
        first->second.fit.downmix = false;
    }
    const std::vector<std::string> streamFilters =
        appendStreamPlan(c.args, r, plans, rms, target, outExtension, filter.text, c.note);
    if (std::vector<std::string> measure = measurementOutput(plans, r.downmixGains); !measure.empty()) {
        c.measurement = {"-i", source};
        c.measurement.insert(c.measurement.end(), measure.begin(), measure.end());
    }
    if (filter.changesLevel || r.tagsOnly)
        appendLoudnessTagRemoval(c.args, rms ? "s:a:0" : "s:a");
    // Global tags: the Ogg muxers put them into the stream's comments.
    for (const loudness_tags::Tag& tag : tags.tags)
        append(c.args, {"-metadata", tag.key + "=" + tag.value});
    if (!streamFilters.empty())
        c.args.insert(c.args.end(), streamFilters.begin(), streamFilters.end());
    else if (!filter.text.empty())
        append(c.args, {"-af", filter.text});
    c.args.push_back(c.writePath);
    return {std::move(c), {}};
}

std::vector<std::string> downmixMeasurement(const ConversionRequest& r)
{
    if (!streamsRead(r.probe))
        return {};
    return measurementOutput(audioPlans(r, isRmsMode(r.mode), plannedTarget(r)), r.downmixGains);
}

std::optional<std::string> copyDownmix(const ConversionRequest& r)
{
    if (!isRmsMode(r.mode) || r.unchanged || !streamsRead(r.probe))
        return std::string();
    const std::map<int, stream_rules::AudioPlan> plans = audioPlans(r, true, plannedTarget(r));
    const auto first = plans.find(r.probe.firstAudioStreamIndex);
    if (first == plans.end() || !first->second.refusal.empty() || !first->second.fit.downmix)
        return std::string();
    const auto gain = r.downmixGains.find(first->first);
    if (gain == r.downmixGains.end())
        return std::nullopt;
    return first->second.fit.channelFilter + "," + correctionFilter(gain->second);
}

std::map<int, double> downmixGains(const std::map<std::string, double>& integrated,
                                   const std::map<std::string, double>& samplePeaks,
                                   std::optional<double> peakGainDb)
{
    std::map<int, double> gains;
    for (const auto& [name, sourceLufs] : integrated) {
        if (name.rfind(kSourceMeter, 0) != 0)
            continue;
        const std::string id = name.substr(kSourceMeter.size());
        const std::string mixName = std::string(kDownmixMeter) + id;
        const auto mixed = integrated.find(mixName);
        int n = -1;
        const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), n);
        if (mixed == integrated.end() || error != std::errc() || end != id.data() + id.size() || n < 0)
            continue;
        double gain = std::clamp(sourceLufs - mixed->second, -kMaxDownmixGainDb, kMaxDownmixGainDb);
        // Peak mode promises no sample above full scale: the downmix's own peak counts.
        if (const auto peak = samplePeaks.find(mixName); peakGainDb && peak != samplePeaks.end())
            gain = std::min(gain, -(peak->second + *peakGainDb));
        gains[n] = gain;
    }
    return gains;
}

}  // namespace conversion_command
