// meter: the measuring worker. Reads requests on standard input, measures each file's audio
// stream with the normaliser's meters and answers each with one line, until the input ends.
#include "MeasureLine.h"
#include "SampleStreamMeter.h"
#include "meter/StreamDecoding.h"
#include "tools/ToolContracts.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

using tool_contracts::MeasureInput;

WavFormat formatOf(const MeasureInput& input)
{
    WavFormat format;
    const bool s16 = input.samples == tool_contracts::RawSamples::S16;
    format.encoding = s16 ? SampleEncoding::SignedInt : SampleEncoding::Float;
    format.containerBits = format.validBits = s16 ? 16 : 32;
    format.channels = static_cast<std::uint16_t>(input.channels);
    format.sampleRate = static_cast<std::uint32_t>(input.sampleRate);
    format.blockAlign = static_cast<std::uint16_t>(input.channels * format.bytesPerSample());
    format.channelMask = input.channelMask;
    return format;
}

std::string failed(std::string reason)
{
    for (char& c : reason)
        if (c == '\n' || c == '\r')
            c = ' ';
    return std::string(tool_contracts::kMeterFailedMarker) + '\t' + reason;
}

std::string answer(const std::string& record)
{
    const std::optional<MeasureInput> input = tool_contracts::parseMeterRequest(record);
    if (!input)
        return failed("malformed request");
    try {
        SampleStreamMeter meter(formatOf(*input));
        const std::string error = stream_decoding::decode(
            *input, [&meter](const std::uint8_t* bytes, std::size_t count) { meter.add(bytes, count); });
        return error.empty() ? measure_line::format(meter.result()) : failed(error);
    } catch (const std::bad_alloc&) {
        return failed("out of memory");
    } catch (const std::runtime_error& e) {  // a format the meters cannot take
        return failed(e.what());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        const std::string arg = argv[1];
        if (arg == "--version") {
            std::puts("meter (Auralon) " AURALON_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::puts("Usage: meter\n"
                      "Reads measuring requests on standard input until it ends, each ended by NUL:\n"
                      "  <audio stream><TAB><channels><TAB><rate><TAB><mask><TAB>s16|f32<TAB><file>\n"
                      "and answers each with one line on standard output: the loudness of that audio\n"
                      "stream of the file (as client --measure prints it), or failed<TAB><reason>.\n"
                      "  --help, --version");
            return 0;
        }
        std::fprintf(stderr, "meter: unknown option %s\nTry 'meter --help'.\n", argv[1]);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    for (std::string record; std::getline(std::cin, record, '\0');) {
        const std::string line = answer(record) + '\n';
        if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0)
            return 1;
    }
    return 0;
}
