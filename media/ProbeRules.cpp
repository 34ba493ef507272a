#include "media/ProbeRules.h"

#include "media/FFmpegHeaders.h"

#include <charconv>
#include <cstdio>

namespace probe_rules {
namespace {

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n\f\v";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool isPrintable(unsigned byte) { return byte >= 32 && byte <= 126; }

}  // namespace

bool ioWatchExpired(std::int64_t watchStartUs, std::int32_t timeoutMs, std::int64_t nowUs)
{
    if (watchStartUs == kWatchDisarmed || timeoutMs <= 0)
        return false;
    return nowUs - watchStartUs > static_cast<std::int64_t>(timeoutMs) * 1000;
}

std::int32_t tagInteger(std::string_view value)
{
    std::string_view digits = trimmed(value);
    std::int32_t number = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size())
        return 0;
    return number;
}

std::string codecNameText(const char* decoderName, const char* decoderLongName, int codecId,
                          std::uint32_t codecTag)
{
    if (decoderName) {
        std::string_view longName = trimmed(decoderLongName ? decoderLongName : "");
        if (longName.empty())
            return decoderName;
        return std::string(decoderName) + "(" + std::string(longName) + ")";
    }
    if (codecId == AV_CODEC_ID_MPEG2TS)
        return "mpeg2ts";
    // Stream parameters carry no free-text codec name, so only the tag is left to show.
    const unsigned bytes[4] = {codecTag & 0xFF, (codecTag >> 8) & 0xFF, (codecTag >> 16) & 0xFF,
                               (codecTag >> 24) & 0xFF};
    char text[32];
    if (isPrintable(bytes[0]) && isPrintable(bytes[1]) && isPrintable(bytes[2]) &&
        isPrintable(bytes[3]))
        std::snprintf(text, sizeof text, "%c%c%c%c / 0x%04X", bytes[0], bytes[1], bytes[2],
                      bytes[3], codecTag);
    else
        std::snprintf(text, sizeof text, "0x%04x", codecTag);
    return text;
}

bool readsOtherSources(std::string_view formatName)
{
    static constexpr std::string_view kReferringFormats[] = {
        "hls", "applehttp", "dash", "concat", "imf", "sdp", "rtsp", "avisynth", "vapoursynth",
    };
    while (!formatName.empty()) {
        const std::size_t comma = formatName.find(',');
        const std::string_view name = formatName.substr(0, comma);
        for (std::string_view referring : kReferringFormats)
            if (name == referring)
                return true;
        formatName = comma == std::string_view::npos ? std::string_view() : formatName.substr(comma + 1);
    }
    return false;
}

}  // namespace probe_rules
