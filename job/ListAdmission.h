#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TFFDecoder;

// The file list's rules, the same for every front end: which names a drop and a folder scan
// take, which names the tools can be given, and the probe that admits a file into the list or
// refuses it with the message its user is shown. Names are the file system's bytes.
namespace list_admission {

inline constexpr std::string_view kLoadError = "File load error: ";
inline constexpr std::string_view kNoAudioStream = "No audio stream: ";

// The name's extension is in the video or the audio list: what a drop takes.
bool hasMediaExtension(std::string_view name);

// What "Add Files from Folder" takes from `folder`: its entries that are no folders and whose
// extension is in the two lists joined, as folder + "/" + name, in the order the file system
// gives them; sub-folders are not entered. `folder` is used as written (blanks at its ends
// belong to its name). Nothing for anything that is not a folder.
std::vector<std::string> folderFiles(const std::string& folder);

// The name is text (UTF-8): tool arguments are text, and a name that is not would reach the
// tools, and be shown, as the name of another file.
bool isTextName(std::string_view name);

// A file as the list takes it.
struct Admission {
    bool admitted = false;
    std::string refusal;  // the message of a refusal; empty when refused silently
    std::int64_t sizeBytes = 0;
    std::int64_t durationUs = -1;  // -1 or 0 when the file gives none
    std::string codec;             // of the first video stream, else of the first audio stream
};

// Probes the file: refused when it is there but no plain file (a FIFO would block the open),
// cannot be opened, or has no audio stream; a failure of the probe itself refuses it silently.
// Leaves no file open.
Admission admit(TFFDecoder& probe, const std::string& path);

}  // namespace list_admission
