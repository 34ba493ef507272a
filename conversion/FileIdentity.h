#pragma once

#include <sys/types.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

// Whether two names reach the same file or folder, decided as the file system decides it:
// by device and inode, so letter case (on folding file systems), symbolic links, hard links
// and "/x/../x" make no difference.
namespace file_identity {

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// What stat() says about a name (links followed).
struct Lookup {
    std::optional<FileId> id;  // set when the name exists
    int error = 0;             // errno when it does not or cannot be examined; 0 otherwise
    bool missing() const { return !id && (error == ENOENT || error == ENOTDIR); }
};

Lookup lookUp(const std::string& path);

// The path made absolute against the current folder, otherwise unchanged (no ".." is
// folded away, since a symbolic link may stand before it).
std::string absolutePath(const std::string& path);

// The absolute, lexically normal form of a path, without a trailing "/" (except for "/").
// The current folder makes a relative path absolute.
std::string absoluteText(const std::string& path);

// True when both names exist and are the same file or folder, or, when either cannot be
// examined, when their absolute texts are equal.
bool sameEntry(const std::string& a, const std::string& b);

// True when `path` is `folder` or lies below it, links resolved (so a link to the folder, or
// into it, counts); false when the folder does not exist.
bool isSameOrInside(const std::string& path, const std::string& folder);

// The identities of those of the names that exist.
std::vector<FileId> existingIds(const std::vector<std::string>& paths);

// Names that must not be written over, kept both ways: by identity for those that exist,
// by absolute text for all.
struct GuardedNames {
    std::vector<FileId> ids;
    std::vector<std::string> texts;

    void add(const std::string& path);  // looked up now
};

GuardedNames guardedNames(const std::vector<std::string>& paths);

enum class TargetState {
    Free,     // missing, or an existing file that is none of the guarded ones
    Guarded,  // one of the guarded names or files
    Unknown,  // cannot be examined (the reason is in the error)
};

struct TargetCheck {
    TargetState state = TargetState::Unknown;
    int error = 0;
};

// May `candidate` be written (or renamed onto) without touching a guarded file?
TargetCheck checkTarget(const std::string& candidate, const GuardedNames& guarded);

}  // namespace file_identity
