#include "normalizer/WavParser.h"

#include "normalizer/UniqueFd.h"
#include "normalizer/WavError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace wav_parser {

namespace {

constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;
constexpr std::uint16_t kTagPcm = 0x0001;
constexpr std::uint16_t kTagFloat = 0x0003;
constexpr std::uint16_t kTagExtensible = 0xFFFE;

// Every KSDATAFORMAT_SUBTYPE GUID for a plain format tag ends in these bytes.
constexpr std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t le64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

bool idIs(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

std::string printableId(const std::uint8_t* p)
{
    std::string id;
    for (int i = 0; i < 4; ++i)
        id += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
    return id;
}

[[noreturn]] void malformed(const std::string& what) { throw WavError("malformed: " + what); }
[[noreturn]] void unsupported(const std::string& what) { throw WavError("unsupported: " + what); }

struct Ds64 {
    std::uint64_t offset = 0;  // of the chunk header
    std::uint64_t riffSize = 0;
    std::uint64_t dataSize = 0;
};

}  // namespace

WavFormat parseFormat(const std::uint8_t* body, std::size_t size)
{
    if (size < 16)
        malformed("the fmt chunk is too short");
    WavFormat f;
    std::uint16_t tag = le16(body);
    f.channels = le16(body + 2);
    f.sampleRate = le32(body + 4);
    f.blockAlign = le16(body + 12);
    std::uint16_t bits = le16(body + 14);
    std::uint16_t validBits = bits;
    if (tag == kTagExtensible) {
        if (size < 40 || le16(body + 16) < 22)
            malformed("the extensible fmt chunk is too short");
        if (le16(body + 18) != 0)
            validBits = le16(body + 18);
        f.channelMask = le32(body + 20);
        if (std::memcmp(body + 26, kSubtypeTail, sizeof kSubtypeTail) != 0)
            unsupported("extensible format with an unknown subformat");
        tag = le16(body + 24);
        f.extensible = true;
    }
    if (f.channels == 0)
        malformed("no channels");
    if (f.sampleRate == 0)
        malformed("sample rate 0");
    if (f.blockAlign == 0 || f.blockAlign % f.channels != 0)
        malformed("block size " + std::to_string(f.blockAlign) + " does not fit " +
                  std::to_string(f.channels) + " channels");
    unsigned containerBytes = f.blockAlign / f.channels;
    f.containerBits = static_cast<std::uint16_t>(containerBytes * 8);
    f.validBits = validBits;
    if (bits == 0 || validBits == 0 || validBits > f.containerBits || bits > f.containerBits)
        malformed(std::to_string(validBits) + "-bit samples in " + std::to_string(containerBytes) +
                  "-byte frames per channel");

    if (tag == kTagPcm) {
        if (containerBytes > 4)
            unsupported(std::to_string(f.containerBits) + "-bit integer samples");
        f.encoding = containerBytes == 1 ? SampleEncoding::UnsignedInt : SampleEncoding::SignedInt;
    } else if (tag == kTagFloat) {
        if ((containerBytes != 4 && containerBytes != 8) || validBits != f.containerBits)
            unsupported(std::to_string(validBits) + "-bit floating-point samples");
        f.encoding = SampleEncoding::Float;
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "sample format 0x%04X (only PCM and IEEE float)", tag);
        unsupported(text);
    }
    return f;
}

WavLayout parse(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw WavError(systemReason("cannot examine the file", errno));
    if (!S_ISREG(st.st_mode))
        throw WavError("not a regular file");
    WavLayout layout;
    layout.fileSize = static_cast<std::uint64_t>(st.st_size);

    std::uint8_t head[12];
    if (layout.fileSize < sizeof head)
        throw WavError("not a RIFF WAVE file");
    readExactAt(fd, 0, head, sizeof head, "RIFF header");
    layout.rf64 = idIs(head, "RF64") || idIs(head, "BW64");
    if (!(idIs(head, "RIFF") || layout.rf64) || !idIs(head + 8, "WAVE"))
        throw WavError("not a RIFF WAVE file");
    std::uint32_t riffSize = le32(head + 4);

    std::optional<WavFormat> format;
    std::optional<Ds64> ds64;
    std::uint64_t pos = 12;
    std::uint8_t header[8];
    for (;;) {
        if (pos + 8 > layout.fileSize)
            throw WavError(pos < layout.fileSize ? "truncated: the file ends inside a chunk header"
                                                 : "malformed: no data chunk");
        readExactAt(fd, pos, header, sizeof header, "chunk header");
        std::uint32_t size = le32(header + 4);
        if (layout.rf64 && pos == 12 && !idIs(header, "ds64"))
            malformed("RF64 file without a ds64 chunk");
        if (idIs(header, "data"))
            break;
        std::uint64_t bodyEnd = pos + 8 + size;
        if (bodyEnd > layout.fileSize)
            throw WavError("truncated: the '" + printableId(header) +
                           "' chunk runs past the end of the file");
        if (layout.rf64 && idIs(header, "ds64")) {
            if (size < 24)
                malformed("the ds64 chunk is too short");
            std::uint8_t body[24];
            readExactAt(fd, pos + 8, body, sizeof body, "ds64 chunk");
            ds64 = Ds64{pos, le64(body), le64(body + 8)};
        } else if (idIs(header, "fmt ")) {
            if (format)
                malformed("more than one fmt chunk");
            std::uint8_t body[64] = {};
            std::size_t len = size < sizeof body ? size : sizeof body;
            readExactAt(fd, pos + 8, body, len, "fmt chunk");
            format = parseFormat(body, size);
        }
        pos = bodyEnd + (size & 1u);
    }
    if (!format)
        malformed("no fmt chunk before the data chunk");
    layout.format = *format;

    std::uint32_t size32 = le32(header + 4);
    bool sizeInDs64 = layout.rf64 && size32 == kUnknownSize;
    std::uint64_t declared = sizeInDs64 ? ds64->dataSize : size32;
    // Writers that could not seek back leave placeholders: 0xFFFFFFFF, or 0 with an
    // unfinished RIFF size. Both mean "up to the end of the file".
    bool riffUnfinished = layout.rf64 ? ds64->riffSize == 0 : (riffSize == 0 || riffSize == kUnknownSize);
    bool placeholder = (!layout.rf64 && size32 == kUnknownSize) || (declared == 0 && riffUnfinished);
    std::uint64_t available = layout.fileSize - (pos + 8);
    std::uint64_t dataSize = declared;
    if (placeholder || declared > available) {
        dataSize = available;
        layout.dataSizeClamped = dataSize != declared || placeholder;
    }
    layout.sampleOffset = pos + 8;
    layout.frameCount = dataSize / layout.format.blockAlign;

    if (layout.dataSizeClamped) {
        // The samples now reach the end of the file: say so in the size fields.
        std::uint64_t riffTotal = layout.fileSize - 8;
        if (layout.rf64) {
            layout.patches.push_back({ds64->offset + 8, 8, riffTotal});
            if (sizeInDs64 || dataSize >= kUnknownSize) {
                layout.patches.push_back({pos + 4, 4, kUnknownSize});
                layout.patches.push_back({ds64->offset + 16, 8, dataSize});
            } else {
                layout.patches.push_back({pos + 4, 4, dataSize});
            }
        } else {
            if (riffTotal < kUnknownSize)
                layout.patches.push_back({4, 4, riffTotal});
            if (dataSize < kUnknownSize)
                layout.patches.push_back({pos + 4, 4, dataSize});
        }
    }
    return layout;
}

}  // namespace wav_parser
