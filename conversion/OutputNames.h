#pragma once

#include "conversion/FileIdentity.h"

#include <optional>
#include <string>
#include <string_view>

// Where an adjusted file is written and under which name.
namespace output_names {

// Blanks and control characters (everything up to U+0020) removed at both ends.
std::string trimmed(std::string_view text);

// The text after the last "/" (the whole text when there is none).
std::string fileNameOf(std::string_view path);

// The folder made absolute, without trailing "/" (except the root itself).
std::string folderText(const std::string& folder);

// folder + "/" + name, with exactly one "/" between them.
std::string joined(const std::string& folder, const std::string& name);

// The extension the output gets, dot included, from the source's extension:
//  - audio sources: the format box's extension ("*.MP3" -> ".mp3") when formatConverting
//    is set, else ".wav" when the source's format is not one offered for output, else kept;
//  - video containers that are not kept: ".RMVB" -> ".rm", ".H264" -> ".mkv", else ".avi".
// Returns the source's own extension when no rule applies ("" when it has none).
std::string outputExtension(const std::string& sourcePath, bool formatConverting,
                            std::string_view formatText);

// The planned output: outputFolder + "/" + trimmed prefix + source file name, with
// "NEW_" as the prefix when the prefix is empty and the output folder is the source's
// own folder (compared by identity), and the extension of outputExtension().
std::string plannedOutputPath(const std::string& sourcePath, const std::string& outputFolder,
                              const std::string& prefix, bool formatConverting,
                              std::string_view formatText);

// The same, with whether the source lies in the output folder already known (a plan of a
// million rows asks it once per folder, not once per file).
std::string plannedOutputPath(const std::string& sourcePath, const std::string& outputFolder,
                              const std::string& prefix, bool formatConverting,
                              std::string_view formatText, bool sourceInOutputFolder);

// The same again, with the output's extension known too (outputExtension() follows from the
// source's extension alone, so a plan asks it once per extension).
std::string plannedOutputPathTo(const std::string& sourcePath, const std::string& outputFolder,
                                const std::string& prefix, bool sourceInOutputFolder,
                                std::string_view outputExtension);

// The folder part of a path, as plannedOutputPath compares it with the output folder.
std::string sourceFolderOf(const std::string& sourcePath);

// "/o/name (n).ext" for "/o/name.ext".
std::string numberedVariant(const std::string& path, int n);

// The hidden file the converter writes before it is renamed to outputFile:
// "<folder>/.<name>.auralon-<pid>-<index>[-<n>].part<.ext>", keeping outputFile's extension
// (the converter picks the container by it). The name part is shortened so that the file
// name stays within the file system's limit of 255 bytes.
std::string partFilePath(const std::string& outputFile, long processId, int fileIndex, int n = 1);

// The process id in the name of such a hidden file, or nothing for any other name.
std::optional<long> partFileProcess(std::string_view fileName);

// The first of path, "name (2).ext", "name (3).ext", ... that is free of the guarded names,
// or the reason why none is.
struct FreeName {
    std::string path;     // empty when none was found
    std::string problem;  // why, when path is empty
};
FreeName firstFreeName(const std::string& planned, const file_identity::GuardedNames& guarded);

// Like firstFreeName() for the hidden file of partFilePath().
FreeName freePartFile(const std::string& outputFile, long processId, int fileIndex,
                      const file_identity::GuardedNames& guarded);

}  // namespace output_names
