// Where an output is written, for any source name, prefix and format, in a small tree of
// real folders: the same folder under two names (a symbolic link), a hard-linked file, a
// folder that does not exist.
#include "FuzzCheck.h"

#include "base/MediaExtensions.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string root;

void mustSucceed(bool ok)
{
    if (!ok)
        std::abort();
}

bool makeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// The folders the fuzzer picks from, by their several spellings.
std::vector<std::string> folders()
{
    return {root + "/a",    root + "/b",       root + "/c",  root + "/a/",
            root + "/b/../a", root + "//a",    root + "/missing", root,
            root + "/a/missing/.."};
}

bool guardedBy(const std::string& path, const file_identity::GuardedNames& guarded)
{
    const std::string text = file_identity::absoluteText(path);
    for (const std::string& g : guarded.texts)
        if (g == text)
            return true;
    const file_identity::Lookup found = file_identity::lookUp(path);
    if (found.id)
        for (const file_identity::FileId& id : guarded.ids)
            if (id == *found.id)
                return true;
    return false;
}

// `path` is `folder` + "/" + one file name, nothing more.
void checkInFolder(const std::string& path, const std::string& folder)
{
    const std::string lead = folder == "/" ? folder : folder + "/";
    FUZZ_CHECK(path.starts_with(lead));
    const std::string name = path.substr(lead.size());
    FUZZ_CHECK(!name.empty() && name.find('/') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/auralon-fuzz-names-XXXXXX";
    mustSucceed(::mkdtemp(pattern.data()) != nullptr);
    root = pattern;
    mustSucceed(::mkdir((root + "/a").c_str(), 0755) == 0 && ::mkdir((root + "/b").c_str(), 0755) == 0);
    mustSucceed(::symlink((root + "/a").c_str(), (root + "/c").c_str()) == 0);
    mustSucceed(makeFile(root + "/a/song.mp3") && makeFile(root + "/a/NEW_song.mp3"));
    mustSucceed(::link((root + "/a/song.mp3").c_str(), (root + "/b/song.mp3").c_str()) == 0);
    // Left behind: libFuzzer may end the process at any moment. fuzz/run points TMPDIR
    // at a folder of its own and removes it.
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::vector<std::string> choices = folders();
    const std::string sourceFolder = choices[input.ConsumeIntegralInRange<std::size_t>(0, choices.size() - 1)];
    const std::string outputFolder = choices[input.ConsumeIntegralInRange<std::size_t>(0, choices.size() - 1)];
    const std::string prefix = input.ConsumeRandomLengthString(24);
    const bool formatConverting = input.ConsumeBool();
    const auto formats = media_extensions::entriesOf(media_extensions::audio_out_exts);
    const std::string formatText = input.ConsumeBool()
        ? formats[input.ConsumeIntegralInRange<std::size_t>(0, formats.size() - 1)]
        : input.ConsumeRandomLengthString(8);
    const bool createSource = input.ConsumeBool();
    std::string name = input.ConsumeRemainingBytesAsString();
    for (char& c : name)
        if (c == '\0' || c == '/')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        return 0;
    const std::string source = sourceFolder + "/" + name;
    // The command builder refuses such a prefix before it asks for a name.
    if (prefix.find('/') != std::string::npos || prefix.find('\0') != std::string::npos)
        return 0;

    // Into the missing folder it fails, and the source stays a name only.
    const bool created = createSource && makeFile(source);

    const std::string folder = output_names::folderText(outputFolder);
    const std::string planned =
        output_names::plannedOutputPath(source, outputFolder, prefix, formatConverting, formatText);
    checkInFolder(planned, folder);
    const std::string extension = output_names::outputExtension(source, formatConverting, formatText);
    FUZZ_CHECK(planned.ends_with(extension));
    FUZZ_CHECK(extension.find('/') == std::string::npos);

    const std::vector<std::string> guardedPaths = {source, root + "/a/song.mp3", root + "/a/NEW_song.mp3"};
    const file_identity::GuardedNames guarded = file_identity::guardedNames(guardedPaths);
    const output_names::FreeName output = output_names::firstFreeName(planned, guarded);
    if (!output.path.empty()) {
        FUZZ_CHECK(output.problem.empty());
        checkInFolder(output.path, folder);
        // Never a source or an earlier output, by name or by the file it reaches.
        FUZZ_CHECK(!guardedBy(output.path, guarded));
        FUZZ_CHECK(file_identity::absoluteText(output.path) != file_identity::absoluteText(source));

        const output_names::FreeName part = output_names::freePartFile(output.path, 4242, 7, guarded);
        if (!part.path.empty()) {
            checkInFolder(part.path, folder);
            FUZZ_CHECK(!guardedBy(part.path, guarded) && part.path != output.path);
            const std::string partName = output_names::fileNameOf(part.path);
            FUZZ_CHECK(partName.front() == '.' && partName.size() <= 255);
        } else {
            FUZZ_CHECK(!part.problem.empty());
        }
    } else {
        FUZZ_CHECK(!output.problem.empty());
    }

    if (created)
        ::unlink(source.c_str());
    return 0;
}
