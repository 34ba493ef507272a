#include "conversion/FileIdentity.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace file_identity {

Lookup lookUp(const std::string& path)
{
    Lookup result;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        result.id = FileId{info.st_dev, info.st_ino};
    else
        result.error = errno;
    return result;
}

std::string absolutePath(const std::string& path)
{
    if (path.starts_with('/'))
        return path;  // what std::filesystem::absolute gives, without taking the path apart
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
    return ec ? path : p.string();
}

std::string absoluteText(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec)
        p = fs::path(path);
    std::string text = p.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool sameEntry(const std::string& a, const std::string& b)
{
    const Lookup la = lookUp(a);
    const Lookup lb = lookUp(b);
    if (la.id && lb.id)
        return *la.id == *lb.id;
    return absoluteText(a) == absoluteText(b);
}

bool isSameOrInside(const std::string& path, const std::string& folder)
{
    namespace fs = std::filesystem;
    const Lookup target = lookUp(folder);
    if (!target.id || path.empty())
        return false;
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(absolutePath(path)), ec);
    if (ec)
        p = fs::path(absoluteText(path));
    for (;;) {
        if (lookUp(p.string()).id == target.id)
            return true;
        if (!p.has_relative_path())
            return false;  // the root was reached
        p = p.parent_path();
    }
}

std::vector<FileId> existingIds(const std::vector<std::string>& paths)
{
    std::vector<FileId> ids;
    for (const std::string& path : paths)
        if (const Lookup found = lookUp(path); found.id)
            ids.push_back(*found.id);
    return ids;
}

void GuardedNames::add(const std::string& path)
{
    if (path.empty())
        return;
    texts.push_back(absoluteText(path));
    if (const Lookup found = lookUp(path); found.id)
        ids.push_back(*found.id);
}

GuardedNames guardedNames(const std::vector<std::string>& paths)
{
    GuardedNames guarded;
    guarded.texts.reserve(paths.size());
    for (const auto& path : paths)
        guarded.add(path);
    return guarded;
}

TargetCheck checkTarget(const std::string& candidate, const GuardedNames& guarded)
{
    const std::string text = absoluteText(candidate);
    for (const auto& g : guarded.texts)
        if (g == text)
            return {TargetState::Guarded, 0};
    const Lookup found = lookUp(candidate);
    if (found.id) {
        for (const auto& id : guarded.ids)
            if (id == *found.id)
                return {TargetState::Guarded, 0};
        return {TargetState::Free, 0};
    }
    if (found.missing())
        return {TargetState::Free, 0};
    return {TargetState::Unknown, found.error};
}

}  // namespace file_identity
