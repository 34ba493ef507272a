#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

// The probe's small rules, kept apart from FFmpeg so they can be checked as tables.
namespace probe_rules {

// A watch start of this value disarms the I/O watch.
inline constexpr std::int64_t kWatchDisarmed = std::numeric_limits<std::int64_t>::max();

// True when a blocking FFmpeg call should be abandoned: the watch is armed, a positive
// timeout is set, and more than timeoutMs have passed since watchStartUs.
bool ioWatchExpired(std::int64_t watchStartUs, std::int32_t timeoutMs, std::int64_t nowUs);

// A tag value read as a decimal integer ("2004" -> 2004); 0 when it is anything else
// ("3/12", "", "12a", out of range). Surrounding blanks are allowed.
std::int32_t tagInteger(std::string_view value);

// The text naming a stream's codec: "name(long name)" when a decoder exists, "mpeg2ts" for
// FFmpeg's transport-stream marker, else the codec tag as four characters and hexadecimal
// ("DIVX / 0x58564944") or, with an unprintable byte, in hexadecimal alone ("0x0001").
// decoderName is null when no decoder exists; decoderLongName may be null.
std::string codecNameText(const char* decoderName, const char* decoderLongName, int codecId,
                          std::uint32_t codecTag);

// True when an input format (FFmpeg's name, which may list several: "hls", "mov,mp4,m4a")
// reads other files or network addresses named in the source's content: playlists and
// manifests (hls, dash, concat, imf), session descriptions (sdp) and scripts. Such a source
// is refused, so that no tool ever reads what its content names.
bool readsOtherSources(std::string_view formatName);

}  // namespace probe_rules
