// The normaliser's reading of a WAV file: header walk, sample decoding, channel weights and
// the measurement that the gain is decided from, on whatever bytes the file holds.
#include "FuzzCheck.h"

#include "ChannelMap.h"
#include "GainRules.h"
#include "normalizer/FileAnalysis.h"
#include "SampleCodec.h"
#include "normalizer/WavError.h"
#include "normalizer/WavParser.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The input as a file: an anonymous one in memory, reopened by name for the analysis.
class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size) : fd_(::memfd_create("wav", MFD_CLOEXEC))
    {
        if (fd_ < 0 || ::write(fd_, data, size) != static_cast<ssize_t>(size))
            std::abort();
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    int fd() const { return fd_; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

void checkFormat(const WavFormat& f)
{
    FUZZ_CHECK(f.channels > 0 && f.sampleRate > 0);
    FUZZ_CHECK(f.blockAlign == f.channels * f.bytesPerSample());
    FUZZ_CHECK(f.validBits > 0 && f.validBits <= f.containerBits);
    if (f.encoding == SampleEncoding::Float)
        FUZZ_CHECK(f.containerBits == 32 || f.containerBits == 64);
    else if (f.encoding == SampleEncoding::UnsignedInt)
        FUZZ_CHECK(f.containerBits == 8);
    else
        FUZZ_CHECK(f.containerBits >= 16 && f.containerBits <= 32);
}

void checkLayout(const WavLayout& layout, std::size_t size)
{
    checkFormat(layout.format);
    FUZZ_CHECK(layout.fileSize == size);
    FUZZ_CHECK(layout.sampleOffset >= 20 && layout.sampleOffset <= size);
    FUZZ_CHECK(layout.sampleBytes() <= size - layout.sampleOffset);
    // Patches rewrite size fields of the header, never samples, never past the end.
    for (const HeaderPatch& patch : layout.patches) {
        FUZZ_CHECK(patch.width == 4 || patch.width == 8);
        FUZZ_CHECK(patch.offset + patch.width <= layout.sampleOffset);
        if (patch.width == 4)
            FUZZ_CHECK(patch.value <= 0xFFFFFFFFu);
    }
    if (!layout.dataSizeClamped)
        FUZZ_CHECK(layout.patches.empty());
}

// The first frames decode to the -1..1 scale (integers) or at least to numbers.
void checkSamples(const WavLayout& layout, const std::uint8_t* data)
{
    const WavFormat& f = layout.format;
    const std::size_t frames = std::min<std::uint64_t>(layout.frameCount, 4);
    std::vector<double> out(frames * f.channels);
    sample_codec::decode(f, data + layout.sampleOffset, out.size(), out.data());
    if (f.isInteger())
        for (double v : out)
            FUZZ_CHECK(v >= -1.0 && v < 1.0);
}

void checkAnalysis(const std::string& path, const WavLayout& layout)
{
    FileAnalysis analysis;
    try {
        analysis = file_analysis::analyse(path);
    } catch (const std::runtime_error&) {
        return;  // e.g. a rate or channel count the meter refuses
    }
    FUZZ_CHECK(analysis.layout.frameCount == layout.frameCount);
    const gain_rules::Levels& levels = analysis.levels;
    FUZZ_CHECK(levels.seconds >= 0 && std::isfinite(levels.seconds));
    const auto decisions = gain_rules::decide(gain_rules::Mode::Track, {levels}, 0, {});
    FUZZ_CHECK(decisions.size() == 1);
    // A gain that is applied is a real number: anything else would ruin the samples.
    if (decisions[0].apply)
        FUZZ_CHECK(std::isfinite(decisions[0].gainDb));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemoryFile file(data, size);
    WavLayout layout;
    try {
        layout = wav_parser::parse(file.fd());
    } catch (const WavError& error) {
        FUZZ_CHECK(*error.what() != '\0');
        return 0;
    }
    checkLayout(layout, size);
    FUZZ_CHECK(channel_map::weights(layout.format.channels, layout.format.channelMask).size() ==
               layout.format.channels);
    checkSamples(layout, data);
    checkAnalysis(file.path(), layout);
    return 0;
}
