#include "normalizer/WavRewriter.h"

#include "LoudnessMeter.h"
#include "normalizer/GainProcessor.h"
#include "normalizer/LimitedStream.h"
#include "normalizer/StopSignal.h"
#include "normalizer/TempFile.h"
#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"
#include "normalizer/WavParser.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace wav_rewriter {

namespace {

constexpr std::size_t kCopyBlock = 1 << 20;

void checkStop()
{
    if (stop_signal::pending())
        throw WavError("interrupted");
}

// Writes the patches that fall into buffer, which holds the file's bytes from `start`.
void applyPatches(const WavLayout& layout, std::uint64_t start, std::uint8_t* buffer, std::size_t len)
{
    for (const HeaderPatch& patch : layout.patches)
        for (unsigned k = 0; k < patch.width; ++k) {
            std::uint64_t at = patch.offset + k;
            if (at >= start && at < start + len)
                buffer[at - start] = static_cast<std::uint8_t>(patch.value >> (8 * k));
        }
}

// Copies bytes [from, to) of the original as they are, apart from the header patches.
void copyRange(int in, const TempFile& out, const WavLayout& layout, std::uint64_t from, std::uint64_t to)
{
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kCopyBlock)));
    while (from < to) {
        checkStop();
        auto len = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, buffer.size()));
        readExactAt(in, from, buffer.data(), len, "file");
        applyPatches(layout, from, buffer.data(), len);
        writeAll(out.fd(), buffer.data(), len, out.path());
        from += len;
    }
}

void copyAttributes(const struct stat& st, const TempFile& out)
{
    if (::fchmod(out.fd(), st.st_mode & 07777) != 0)
        throw WavError(systemReason("cannot set the permissions of " + out.path(), errno));
    // Keeps the owner when we may (as root, or a group we belong to); otherwise the
    // file becomes ours, as with any editor that saves by rename.
    if (::fchown(out.fd(), st.st_uid, st.st_gid) != 0)
        (void)::fchown(out.fd(), static_cast<uid_t>(-1), st.st_gid);
}

// Claims the whole size up front, so that a full disk shows before any sample is written.
void reserve(const TempFile& out, std::uint64_t size)
{
    if (size == 0 || ::fallocate(out.fd(), 0, 0, static_cast<off_t>(size)) == 0)
        return;
    if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        throw WavError(systemReason("cannot write " + out.path(), errno));
}

// The samples with one gain for all, block by block.
void writeWithGain(int in, const TempFile& out, const WavLayout& layout, GainProcessor& gain)
{
    const WavFormat& format = layout.format;
    const std::size_t block = file_analysis::blockFrames(format);
    std::vector<std::uint8_t> buffer(block * format.blockAlign);
    std::uint64_t offset = layout.sampleOffset;
    for (std::uint64_t left = layout.frameCount; left > 0;) {
        checkStop();
        std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(left, block));
        std::size_t bytes = frames * format.blockAlign;
        readExactAt(in, offset, buffer.data(), bytes, "samples");
        gain.process(buffer.data(), frames * format.channels);
        writeAll(out.fd(), buffer.data(), bytes, out.path());
        offset += bytes;
        left -= frames;
    }
}

// A hash of the samples' size and of some of the samples: the same samples get the same noise
// under any name and in any job (a copy's name is its row's place in the job's list).
std::uint64_t ditherSeed(int fd, const WavLayout& layout)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    auto mix = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    };
    for (int k = 0; k < 8; ++k)
        mix(static_cast<std::uint8_t>(layout.sampleBytes() >> (8 * k)));
    // A stretch from the middle, where music rarely is silent: files alike at their start
    // still get noise of their own.
    constexpr std::uint64_t kSampled = 1 << 16;
    const std::uint64_t frames = std::min<std::uint64_t>(layout.frameCount, kSampled / layout.format.blockAlign);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames * layout.format.blockAlign));
    const std::uint64_t from = layout.sampleOffset + (layout.frameCount - frames) / 2 * layout.format.blockAlign;
    readExactAt(fd, from, bytes.data(), bytes.size(), "samples");
    for (std::uint8_t byte : bytes)
        mix(byte);
    return hash;
}

}  // namespace

bool rewrite(const std::string& path, const FileIdentity& expected, double gainDb, double limiterCeiling,
             const LoudnessCheck& check, double* deepestGain)
{
    UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!in.valid())
        throw WavError(systemReason("cannot open", errno));
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        throw WavError(systemReason("cannot examine the file", errno));
    if (!(FileIdentity::of(st) == expected))
        throw WavError("the file changed while it was being measured");
    const WavLayout layout = wav_parser::parse(in.get());
    const WavFormat& format = layout.format;
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    TempFile out(path);
    copyAttributes(st, out);
    reserve(out, layout.fileSize);

    copyRange(in.get(), out, layout, 0, layout.sampleOffset);

    GainProcessor gain(format, gainDb, ditherSeed(in.get(), layout));
    if (limiterCeiling > 0) {
        LoudnessMeter meter = file_analysis::loudnessMeter(format);
        std::vector<double> limited;
        double deepest = limited_stream::run(in.get(), layout, gainDb, limiterCeiling,
                            [&](std::uint8_t* bytes, const double* samples, const double* gains, std::size_t frames) {
                                if (check) {
                                    limited_stream::applyGains(samples, gains, frames, format.channels, limited);
                                    meter.addFrames(limited.data(), frames);
                                }
                                gain.process(bytes, frames * format.channels, gains);
                                writeAll(out.fd(), bytes, frames * format.blockAlign, out.path());
                            });
        if (deepestGain)
            *deepestGain = deepest;
        if (check && !check(meter.integratedLoudness()))
            return false;
    } else {
        writeWithGain(in.get(), out, layout, gain);
    }

    const std::uint64_t end = layout.sampleOffset + layout.sampleBytes();
    copyRange(in.get(), out, layout, end, layout.fileSize);
    checkStop();
    out.replaceTarget();
    return true;
}

}  // namespace wav_rewriter
