#include "conversion/OutputNames.h"

#include "base/MediaExtensions.h"
#include "conversion/ContainerTable.h"

#include <cstring>
#include <string>

namespace output_names {

namespace {

constexpr std::size_t kNameMax = 255;  // bytes in one file name (NAME_MAX)
constexpr int kMaxNumber = 999;        // "name (999).ext" is the last try

std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The format box's item "*.MP3" as ".mp3"; empty for anything that is not "*." + letters
// and digits, so that the box can never put a "/" into a name.
std::string formatExtension(std::string_view formatText)
{
    if (formatText.size() < 3 || formatText.substr(0, 2) != "*.")
        return {};
    for (char c : formatText.substr(2))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return {};
    std::string extension = ".";
    return lowerAscii(extension.append(formatText.substr(2)));
}

// Cuts a UTF-8 text to at most `bytes` bytes without splitting a character.
std::string cutUtf8(const std::string& text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string problemText(const std::string& path, int error)
{
    return "cannot examine " + path + ": " + std::strerror(error);
}

}  // namespace

std::string trimmed(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string fileNameOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string folderText(const std::string& folder)
{
    std::string text = file_identity::absolutePath(folder);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string joined(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string outputExtension(const std::string& sourcePath, bool formatConverting,
                            std::string_view formatText)
{
    using namespace media_extensions;
    std::string extension = extensionOf(sourcePath);
    if (belongsTo(sourcePath, audio_exts)) {
        const std::string chosen = formatConverting ? formatExtension(formatText) : std::string();
        if (!chosen.empty())
            extension = chosen;
        else if (!belongsTo(sourcePath, audio_out_exts))
            extension = ".wav";
    }
    if (belongsTo(sourcePath, video_exts) && !belongsTo(sourcePath, video_keep_exts))
        extension = container_table::writtenInstead(trimmed(extensionOf(sourcePath)));
    return extension;
}

std::string plannedOutputPath(const std::string& sourcePath, const std::string& outputFolder,
                              const std::string& prefix, bool formatConverting,
                              std::string_view formatText)
{
    const bool inOutputFolder =
        trimmed(prefix).empty() && file_identity::sameEntry(folderText(outputFolder), sourceFolderOf(sourcePath));
    return plannedOutputPath(sourcePath, outputFolder, prefix, formatConverting, formatText, inOutputFolder);
}

std::string sourceFolderOf(const std::string& sourcePath)
{
    const std::string source = file_identity::absolutePath(sourcePath);
    const std::string folder = source.substr(0, source.size() - fileNameOf(source).size());
    return folder.empty() ? "/" : folder;
}

std::string plannedOutputPath(const std::string& sourcePath, const std::string& outputFolder,
                              const std::string& prefix, bool formatConverting,
                              std::string_view formatText, bool sourceInOutputFolder)
{
    return plannedOutputPathTo(sourcePath, outputFolder, prefix, sourceInOutputFolder,
                               outputExtension(file_identity::absolutePath(sourcePath), formatConverting, formatText));
}

std::string plannedOutputPathTo(const std::string& sourcePath, const std::string& outputFolder,
                                const std::string& prefix, bool sourceInOutputFolder,
                                std::string_view outputExtension)
{
    const std::string source = file_identity::absolutePath(sourcePath);
    const std::string folder = folderText(outputFolder);
    const std::string name = fileNameOf(source);

    std::string lead = trimmed(prefix);
    if (lead.empty() && sourceInOutputFolder)
        lead = "NEW_";

    // Only the file's own extension is replaced, never a dot in a folder name.
    const std::string oldExtension = media_extensions::extensionOf(name);
    const std::string stem = name.substr(0, name.size() - oldExtension.size());
    return joined(folder, lead + stem + std::string(outputExtension));
}

std::string numberedVariant(const std::string& path, int n)
{
    const std::string name = fileNameOf(path);
    const std::string extension = media_extensions::extensionOf(name);
    const std::string head = path.substr(0, path.size() - extension.size());
    return head + " (" + std::to_string(n) + ")" + extension;
}

std::string partFilePath(const std::string& outputFile, long processId, int fileIndex, int n)
{
    const std::string name = fileNameOf(outputFile);
    const std::string folder = outputFile.substr(0, outputFile.size() - name.size());
    const std::string extension = media_extensions::extensionOf(name);
    const std::string stem = name.substr(0, name.size() - extension.size());
    std::string tail = ".auralon-" + std::to_string(processId) + "-" + std::to_string(fileIndex);
    if (n > 1)
        tail.append("-").append(std::to_string(n));
    tail += ".part" + lowerAscii(extension);
    const std::size_t room = kNameMax > tail.size() + 1 ? kNameMax - tail.size() - 1 : 0;
    return folder + "." + cutUtf8(stem, room) + tail;
}

namespace {

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "<pid>-<index>" or "<pid>-<index>-<n>" (n from 2 on): the pid, else nothing.
std::optional<long> partNumbers(std::string_view text)
{
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos || !allDigits(text.substr(0, dash)) || dash > 18)
        return std::nullopt;
    std::string_view rest = text.substr(dash + 1);
    if (const std::size_t second = rest.find('-'); second != std::string_view::npos) {
        const std::string_view n = rest.substr(second + 1);
        if (!allDigits(n) || n.front() == '0' || n == "1")
            return std::nullopt;
        rest = rest.substr(0, second);
    }
    const long pid = std::stol(std::string(text.substr(0, dash)));
    if (!allDigits(rest) || pid <= 0)
        return std::nullopt;
    return pid;
}

// The name without ".part" and the extension partFilePath() puts after it (lower case, one
// dot), or nothing when the name has no such ending.
std::optional<std::string_view> withoutPartEnding(std::string_view name)
{
    constexpr std::string_view kPart = ".part";
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos) {
        const std::string_view extension = name.substr(dot);
        const std::string_view head = name.substr(0, dot);
        if (head.ends_with(kPart) && lowerAscii(std::string(extension)) == extension)
            return head.substr(0, head.size() - kPart.size());
    }
    if (name.ends_with(kPart))
        return name.substr(0, name.size() - kPart.size());
    return std::nullopt;
}

}  // namespace

std::optional<long> partFileProcess(std::string_view fileName)
{
    constexpr std::string_view kMark = ".auralon-";
    if (!fileName.starts_with('.') || fileName.find('/') != std::string_view::npos)
        return std::nullopt;
    const std::optional<std::string_view> head = withoutPartEnding(fileName);
    if (!head)
        return std::nullopt;
    const std::size_t mark = head->rfind(kMark);
    if (mark == std::string_view::npos || mark == 0)
        return std::nullopt;
    return partNumbers(head->substr(mark + kMark.size()));
}

FreeName firstFreeName(const std::string& planned, const file_identity::GuardedNames& guarded)
{
    if (fileNameOf(planned).size() > kNameMax)
        return {{}, "the name " + fileNameOf(planned) + " is too long"};
    for (int n = 1; n <= kMaxNumber; ++n) {
        const std::string candidate = n == 1 ? planned : numberedVariant(planned, n);
        const file_identity::TargetCheck check = file_identity::checkTarget(candidate, guarded);
        if (check.state == file_identity::TargetState::Free)
            return {candidate, {}};
        if (check.state == file_identity::TargetState::Unknown)
            return {{}, problemText(candidate, check.error)};
    }
    return {{}, "every name up to " + fileNameOf(numberedVariant(planned, kMaxNumber)) +
                    " is a source or an earlier output of this job"};
}

FreeName freePartFile(const std::string& outputFile, long processId, int fileIndex,
                      const file_identity::GuardedNames& guarded)
{
    for (int n = 1; n <= kMaxNumber; ++n) {
        const std::string candidate = partFilePath(outputFile, processId, fileIndex, n);
        // Only the stem can be shortened: an extension of nearly 255 bytes leaves no room.
        if (fileNameOf(candidate).size() > kNameMax)
            return {{}, "the name " + fileNameOf(outputFile) + " is too long for its temporary file"};
        const file_identity::TargetCheck check = file_identity::checkTarget(candidate, guarded);
        if (check.state == file_identity::TargetState::Free)
            return {candidate, {}};
        if (check.state == file_identity::TargetState::Unknown)
            return {{}, problemText(candidate, check.error)};
    }
    return {{}, "no free name for the temporary file of " + outputFile};
}

}  // namespace output_names
