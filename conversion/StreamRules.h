#pragma once

#include "conversion/ContainerTable.h"
#include "media/StreamInfo.h"

#include <string>
#include <vector>

// How each stream of a source is written into an output container, by the container's and the
// encoders' tables: one planner per kind of stream, each returning the stream's options or the
// reason it is left out.
namespace stream_rules {

// Where the streams go: the output container, and whether it is the source's own.
struct Target {
    const container_table::ContainerRow& container;
    bool kept = false;
};

// One option without its stream specifier (the caller adds ":<index>").
struct Option {
    std::string name;   // "-c", "-b", "-q", "-sample_fmt", "-filter"
    std::string value;
};

// What a planner decides for one stream.
struct StreamPlan {
    std::vector<Option> options;
    std::string refusal;  // why the container cannot take it; "" when it is written
};

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

struct AudioPlan : StreamPlan {
    bool copied = false;  // taken over as it is
    std::string encoder;  // "" when copied or left to the converter
    AudioFit fit;
};

// `written`: the streams of the kind that the output holds so far.
// Audio: the source's own codec wherever the container takes it and an encoder exists, else the
// container's encoder that keeps its depth; at the source's bit rate where the codec stays and
// `rateKnown`, else at the encoder's best; `unchanged` (its level stays) copies it into its own
// container.
AudioPlan planAudio(const TStreamFacts& s, const Target& t, int written, bool unchanged, bool rateKnown);
// Video: copied into its own container, else at the best quality; covers only where they stay covers.
StreamPlan planVideo(const TStreamFacts& s, const Target& t, int written);
// Subtitles: copied where the container takes the codec, text rewritten by its text encoder.
StreamPlan planSubtitle(const TStreamFacts& s, const Target& t);
StreamPlan planAttachment(const TStreamFacts& s, const Target& t);
StreamPlan planData(const TStreamFacts& s, const Target& t);

// The encoder an audio stream is written with (see planAudio); "" leaves it to the converter.
std::string audioEncoder(const TStreamFacts& s, const Target& t);

}  // namespace stream_rules
