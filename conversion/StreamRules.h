#pragma once

#include "media/StreamInfo.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What an output container holds and how each stream is written into it. Extensions are
// lower case with their dot (".mkv"); codec and encoder names are FFmpeg's.
namespace stream_rules {

// The encoder for an audio stream of `source` written into a file with extension `out`;
// `kept` when the output keeps the source's container. The source's own codec wherever the
// container takes it and an encoder exists, otherwise the container's best encoder; "" leaves
// the choice to the converter.
std::string audioEncoder(const TStreamFacts& source, std::string_view out, bool kept);

// The options (without stream specifier; the caller adds ":<index>") that make `encoder`
// write the stream at the source's rate (when it is the source's own codec and `rateKnown`)
// or else at the encoder's best quality; lossless encoders keep the source's bit depth.
struct Option {
    std::string name;   // "-b", "-q", "-sample_fmt"
    std::string value;
};
std::vector<Option> audioOptions(const TStreamFacts& source, const std::string& encoder,
                                 bool rateKnown);

// How an audio stream changes to fit its encoder (see EncoderTable): channels it cannot hold
// are mixed down, a layout it cannot name gets its equivalent's name, a rate it cannot take
// becomes the nearest it takes, and a depth it cannot keep the deepest it keeps.
struct AudioFit {
    std::string channelFilter;  // "pan=..." (a downmix) or "channelmap=..." (new names); "" none
    bool downmix = false;
    int sampleRate = 0;         // the rate it is resampled to; 0 when it keeps its own
    bool dither = false;        // reduced to 16 bits
    // What the row's note tells: "5.1(side) downmixed to stereo", "96 kHz resampled to 48 kHz".
    std::vector<std::string> changes;

    // The filters after the level change: resampling (soxr, very high quality) and dither.
    std::string resampleFilter() const;
};
AudioFit audioFit(const TStreamFacts& source, const std::string& encoder);

// The rate nearest to `bitRate` that the encoder accepts (bits per second); the rate itself
// for encoders that take any.
std::int64_t nearestBitRate(const std::string& encoder, std::int64_t bitRate, int sampleRate);

// The PCM encoder that keeps the source's depth: `bigEndian` for AIFF and AU.
std::string pcmEncoder(const TStreamFacts& source, bool bigEndian);

// How many streams of a kind the container takes; -1 for any number.
int audioLimit(std::string_view out);
int videoLimit(std::string_view out);

// True when the container takes attached pictures (covers) as pictures.
bool holdsPictures(std::string_view out);
// True when the container takes real video streams.
bool holdsVideo(std::string_view out);
// True for the Matroska family, which takes attachments (fonts).
bool holdsAttachments(std::string_view out);

// The encoder for a subtitle stream going into the container: "copy" when it takes the
// codec as it is, its own text codec's encoder for a text subtitle, "" when it takes neither.
std::string subtitleEncoder(std::string_view codec, std::string_view out, bool kept);

// The video filter a video encoder of the container needs, e.g. RealVideo 1.0's frame size in
// multiples of 16; "" for none. Width and height of the source, 0 when unknown.
std::string videoFilter(std::string_view out, int width, int height);

}  // namespace stream_rules
