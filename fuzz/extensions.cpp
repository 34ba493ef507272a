// Which extension list a file name belongs to, for any name.
#include "FuzzCheck.h"

#include "base/MediaExtensions.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

using namespace media_extensions;

namespace {

constexpr std::string_view kLists[] = {video_exts, audio_exts, video_keep_exts, audio_out_exts};

std::string withCase(std::string text, bool upper)
{
    for (char& c : text) {
        if (upper && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (!upper && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void checkName(const std::string& path, const std::string& folder)
{
    const std::string ext = extensionOf(path);
    if (!ext.empty()) {
        FUZZ_CHECK(ext.front() == '.' && ext.find('/') == std::string::npos);
        FUZZ_CHECK(path.ends_with(ext));
        FUZZ_CHECK(ext.find('.', 1) == std::string::npos);
    } else {
        FUZZ_CHECK(path.find('.') == std::string::npos || path.find('/', path.rfind('.')) != std::string::npos);
    }
    for (std::string_view list : kLists) {
        const bool member = belongsTo(path, list);
        FUZZ_CHECK(member == (!ext.empty() && list.find(withCase(ext, true)) != std::string_view::npos));
        // Letter case and the folders in front never change the answer.
        FUZZ_CHECK(belongsTo(withCase(path, true), list) == member);
        FUZZ_CHECK(belongsTo(withCase(path, false), list) == member);
        if (path.find('/') == std::string::npos)
            FUZZ_CHECK(belongsTo(folder + "/" + path, list) == member);
        // The lists hold nothing but ASCII: a name with other bytes in its extension is no member.
        if (member)
            for (char c : ext)
                FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string folder = input.ConsumeRandomLengthString(32);
    const std::size_t pick = input.ConsumeIntegral<std::uint8_t>();
    const std::string name = input.ConsumeRemainingBytesAsString();
    checkName(name, folder);

    // Every entry of every list, written in any case after any stem, is a member of its list.
    const std::string_view list = kLists[pick % std::size(kLists)];
    const auto entries = entriesOf(list);
    FUZZ_CHECK(!entries.empty());
    const std::string entry = entries[(pick / std::size(kLists)) % entries.size()];
    FUZZ_CHECK(entry.starts_with("*.") && list.find(entry + ";") != std::string_view::npos);
    const std::string stem = name.substr(0, name.find('/'));
    const std::string file = stem + withCase(entry.substr(1), pick & 1);
    FUZZ_CHECK(belongsTo(file, list));
    checkName(file, folder);
    return 0;
}
