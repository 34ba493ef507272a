#pragma once

#include "media/TFFDecoder.h"

#include <cstdint>
#include <vector>

// What the conversion needs to know about the source, read from the probe after LoadFile.
struct ProbeFacts {
    std::int64_t durationUs = -1;          // -1 when unknown
    bool durationGuessed = false;          // from the bit rate (an MP3 without a frame count)
    std::int64_t overallBitRate = -1;      // bits per second; 0 or -1 when unknown
    std::int32_t streamCount = -1;         // -1 when unknown
    std::int32_t firstAudioStreamIndex = -1;
    std::vector<TStreamFacts> streams;     // every stream in file order; empty when unknown
};

// Reads the facts from a probe that has the source open.
inline ProbeFacts probeFactsOf(TFFDecoder& decoder)
{
    ProbeFacts facts;
    TFileStreamInfo file;
    decoder.GetFileInfo(file);
    facts.durationUs = file.Duration;
    facts.durationGuessed = file.DurationGuessed;
    facts.overallBitRate = file.BitRate;
    facts.streamCount = decoder.StreamCount();
    facts.firstAudioStreamIndex = decoder.FirstAudioStreamIndex();
    for (int n = 0; n < facts.streamCount; ++n) {
        TStreamFacts stream;
        if (!decoder.GetStreamFacts(n, stream))
            break;
        facts.streams.push_back(stream);
    }
    return facts;
}
