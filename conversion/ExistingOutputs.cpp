#include "conversion/ExistingOutputs.h"

#include "conversion/OutputNames.h"

#include <array>
#include <utility>

#include <dirent.h>

namespace existing_outputs {

namespace {

// As many numbered names as output_names tries for the job's own outputs.
constexpr int kMaxNumber = 10000;

constexpr std::array<std::pair<Choice, std::string_view>, 4> kWords{{
    {Choice::Fail, "fail"},
    {Choice::KeepBoth, "keep-both"},
    {Choice::Replace, "replace"},
    {Choice::Skip, "skip"},
}};

}  // namespace

std::optional<Choice> parseChoice(std::string_view word)
{
    for (const auto& [choice, text] : kWords)
        if (text == word)
            return choice;
    return std::nullopt;
}

std::string_view wordOf(Choice choice)
{
    for (const auto& [each, text] : kWords)
        if (each == choice)
            return text;
    return {};
}

std::unordered_set<std::string> namesIn(const std::string& folder)
{
    std::unordered_set<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir))
        names.emplace(entry->d_name);
    ::closedir(dir);
    return names;
}

std::vector<Clash> clashes(const std::vector<std::string>& sources, const std::string& outputFolder,
                           const std::string& prefix, bool formatConverting, std::string_view formatText)
{
    std::vector<Clash> found;
    const std::unordered_set<std::string> existing = namesIn(output_names::folderText(outputFolder));
    if (existing.empty())
        return found;
    std::unordered_set<std::string> taken;  // the sources and earlier outputs, as texts
    for (const std::string& source : sources)
        taken.insert(file_identity::absoluteText(source));
    // By identity too, as the job guards them; looked up only once a name meets a file.
    std::optional<file_identity::GuardedNames> sourceNames;
    for (std::size_t row = 0; row < sources.size(); ++row) {
        const std::string planned =
            output_names::plannedOutputPath(sources[row], outputFolder, prefix, formatConverting, formatText);
        for (int n = 1; n <= kMaxNumber; ++n) {
            const std::string candidate = n == 1 ? planned : output_names::numberedVariant(planned, n);
            if (taken.count(candidate))
                continue;
            if (existing.count(output_names::fileNameOf(candidate))) {
                if (!sourceNames)
                    sourceNames = file_identity::guardedNames(sources);
                if (file_identity::checkTarget(candidate, *sourceNames).state == file_identity::TargetState::Guarded)
                    continue;
                found.push_back({static_cast<int>(row), candidate});
            }
            taken.insert(candidate);
            break;
        }
    }
    return found;
}

std::string keepBothName(const std::string& output, const std::unordered_set<std::string>& existing,
                         const file_identity::GuardedNames& guarded)
{
    for (int n = 1; n <= kMaxNumber; ++n) {
        const std::string candidate = output_names::numberedVariant(output, n);
        if (existing.count(output_names::fileNameOf(candidate)))
            continue;
        if (file_identity::checkTarget(candidate, guarded).state == file_identity::TargetState::Free)
            return candidate;
    }
    return {};
}

}  // namespace existing_outputs
