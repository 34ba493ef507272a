#include "conversion/LoudnessTags.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace loudness_tags {

namespace {

enum class Form { ReplayGain, R128, Refused };

struct ContainerForm {
    std::string_view extension;
    Form form;
    std::string_view refusal;  // for Refused: why; others without a row are refused generally
};

// The FFmpeg 5.1 MP4 muxer writes unknown keys as QuickTime "mdta" keys (with use_metadata_tags)
// or not at all, never as the iTunes free-form atoms players read.
constexpr ContainerForm kForms[] = {
    {".mp3", Form::ReplayGain, {}},
    {".flac", Form::ReplayGain, {}},
    {".ogg", Form::ReplayGain, {}},
    {".mka", Form::ReplayGain, {}},
    {".opus", Form::R128, {}},
    {".m4a", Form::Refused,
     "the converter cannot write the iTunes free-form loudness tags that players read in M4A files"},
};

constexpr std::string_view kKeys[] = {
    "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK",         "REPLAYGAIN_ALBUM_GAIN",
    "REPLAYGAIN_ALBUM_PEAK", "REPLAYGAIN_REFERENCE_LOUDNESS", "REPLAYGAIN_TRACK_RANGE",
    "REPLAYGAIN_ALBUM_RANGE", "R128_TRACK_GAIN",               "R128_ALBUM_GAIN",
};

bool sameLetters(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string printed(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::span<const std::string_view> loudnessKeys()
{
    return kKeys;
}

std::string replayGainText(double lufs)
{
    // No "-0.00 dB" for a file right at the reference.
    const double gain = std::round((kReplayGainReferenceLufs - lufs) * 100) / 100;
    return printed("%.2f dB", gain == 0 ? 0.0 : gain);
}

std::string peakText(double dbtp)
{
    return printed("%.6f", std::pow(10.0, dbtp / 20));
}

std::string r128Text(double lufs)
{
    const double q78 = std::clamp(std::round((kR128ReferenceLufs - lufs) * 256), -32768.0, 32767.0);
    return std::to_string(static_cast<int>(q78));
}

Tags forContainer(std::string_view extension, const Levels& levels)
{
    const auto row = std::find_if(std::begin(kForms), std::end(kForms),
                                  [&](const ContainerForm& f) { return sameLetters(f.extension, extension); });
    if (row != std::end(kForms) && row->form == Form::Refused)
        return {{}, std::string(row->refusal)};
    if (row == std::end(kForms))
        return {{}, "its format" + (extension.empty() ? std::string() : " (" + std::string(extension.substr(1)) + ")")
                        + " has no place for loudness tags that players read"};
    Tags tags;
    if (row->form == Form::R128) {
        tags.tags.push_back({"R128_TRACK_GAIN", r128Text(levels.trackLufs)});
        if (levels.albumLufs)
            tags.tags.push_back({"R128_ALBUM_GAIN", r128Text(*levels.albumLufs)});
        return tags;
    }
    tags.tags = {{"REPLAYGAIN_TRACK_GAIN", replayGainText(levels.trackLufs)},
                 {"REPLAYGAIN_TRACK_PEAK", peakText(levels.trackPeakDbtp)}};
    if (levels.albumLufs && levels.albumPeakDbtp) {
        tags.tags.push_back({"REPLAYGAIN_ALBUM_GAIN", replayGainText(*levels.albumLufs)});
        tags.tags.push_back({"REPLAYGAIN_ALBUM_PEAK", peakText(*levels.albumPeakDbtp)});
    }
    return tags;
}

std::string summary(const std::vector<Tag>& tags)
{
    std::string text;
    for (const Tag& tag : tags)
        text += (text.empty() ? "" : "; ") + tag.key + "=" + tag.value;
    return text;
}

}  // namespace loudness_tags
