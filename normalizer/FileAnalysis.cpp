#include "normalizer/FileAnalysis.h"

#include "SampleStreamMeter.h"
#include "TruePeakMeter.h"
#include "normalizer/GainProcessor.h"
#include "SampleCodec.h"
#include "normalizer/StopSignal.h"
#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"
#include "normalizer/WavParser.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <vector>

FileIdentity FileIdentity::of(const struct stat& st)
{
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool FileIdentity::operator==(const FileIdentity& o) const
{
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
}

namespace file_analysis {

LoudnessMeter loudnessMeter(const WavFormat& format)
{
    return LoudnessMeter(format.channels, format.sampleRate, format.channelMask, LoudnessMeter::Measures::LoudnessOnly);
}

std::size_t blockFrames(const WavFormat& format)
{
    return SampleStreamMeter::blockFrames(format);
}

FileAnalysis analyse(const std::string& path, bool report)
{
    // Non-blocking, so that a FIFO under a .wav name is refused instead of waited on.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        throw WavError(systemReason("cannot open", errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw WavError(systemReason("cannot examine the file", errno));

    FileAnalysis result;
    result.identity = FileIdentity::of(st);
    result.layout = wav_parser::parse(fd.get());
    const WavFormat& format = result.layout.format;
    result.loudnessMeter =
        report ? std::make_unique<LoudnessMeter>(format.channels, format.sampleRate, format.channelMask,
                                                 LoudnessMeter::Measures::LoudnessAndReport)
               : std::make_unique<LoudnessMeter>(loudnessMeter(format));
    TruePeakMeter truePeakMeter(format.channels, format.sampleRate);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::size_t block = blockFrames(format);
    std::vector<std::uint8_t> raw(block * format.blockAlign);
    std::vector<double> samples(block * format.channels);
    std::uint64_t offset = result.layout.sampleOffset;
    for (std::uint64_t left = result.layout.frameCount; left > 0;) {
        if (stop_signal::pending())
            throw WavError("interrupted");
        std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(left, block));
        readExactAt(fd.get(), offset, raw.data(), frames * format.blockAlign, "samples");
        sample_codec::decode(format, raw.data(), frames * format.channels, samples.data());
        result.loudnessMeter->addFrames(samples.data(), frames);
        truePeakMeter.addFrames(samples.data(), frames);
        offset += frames * format.blockAlign;
        left -= frames;
    }

    gain_rules::Levels& levels = result.levels;
    levels.seconds = static_cast<double>(result.layout.frameCount) / format.sampleRate;
    levels.loudnessLufs = result.loudnessMeter->integratedLoudness();
    // The meter the limiter uses, so that what it holds and what is measured agree.
    levels.truePeak = truePeakMeter.truePeak();
    levels.quantisationHeadroom = GainProcessor::quantisationHeadroom(format);
    levels.status = gain_rules::statusOf(levels.seconds, levels.loudnessLufs);
    if (report)
        result.report = SampleStreamMeter::reportOf(*result.loudnessMeter, truePeakMeter, result.layout.frameCount, format.sampleRate);
    return result;
}

}  // namespace file_analysis
