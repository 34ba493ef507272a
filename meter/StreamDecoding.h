#pragma once

#include "tools/ToolContracts.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// One audio stream of a file decoded as the converter's pipe gives it (`-map 0:a:<n> -ac <C>
// -ar <R> -f s16le|f32le`): libavcodec's frames, converted by libswresample with its defaults
// (no dither) to packed samples at the asked channel count and rate.
namespace stream_decoding {

using Sink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

// Decodes the whole stream into `sink`, in pieces of whole frames. "" when it ended well,
// otherwise what failed and FFmpeg's reason ("cannot open the file: Invalid data found ...").
std::string decode(const tool_contracts::MeasureInput& input, const Sink& sink);

}  // namespace stream_decoding
