#include "conversion/OutputFiles.h"

#include "conversion/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace output_files {

namespace {

StepResult failed(const std::string& action, const std::string& path, int error)
{
    return {false, "Cannot " + action + " " + path + ": " + std::strerror(error)};
}

bool removeIfThere(const std::string& path, int& error)
{
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    error = errno;
    return false;
}

// Whether writing outputFile now would touch a source.
file_identity::TargetCheck checkNow(const conversion_command::ConversionCommand& command,
                                    const file_identity::GuardedNames& jobSources)
{
    const file_identity::TargetCheck own = file_identity::checkTarget(
        command.outputFile, file_identity::guardedNames({command.sourceFile}));
    if (own.state != file_identity::TargetState::Free)
        return own;
    return file_identity::checkTarget(command.outputFile, jobSources);
}

}  // namespace

namespace {

// Renames without ever replacing: false with errno EEXIST when the name is taken.
bool renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL)  // a file system without RENAME_NOREPLACE: a hard link fails the same way
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

StepResult commitOutput(const conversion_command::ConversionCommand& command,
                        const file_identity::GuardedNames& jobSources, bool mayReplace)
{
    struct stat written {};
    if (::lstat(command.writePath.c_str(), &written) != 0)
        return failed("find the converter's output", command.writePath, errno);
    if (!S_ISREG(written.st_mode))
        return {false, "Cannot finish " + command.outputFile + ": " + command.writePath +
                           " is not a plain file"};

    // Twice at most: a file that appears between the check and the rename is checked again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const file_identity::TargetCheck check = checkNow(command, jobSources);
        if (check.state != file_identity::TargetState::Free) {
            int ignored = 0;
            removeIfThere(command.writePath, ignored);
            if (check.state == file_identity::TargetState::Guarded)
                return {false, "Cannot finish " + command.outputFile +
                                   ": it would replace a source file of this job"};
            return failed("examine", command.outputFile, check.error);
        }
        const bool exists = file_identity::lookUp(command.outputFile).id.has_value();
        if (exists && !mayReplace) {
            int ignored = 0;
            removeIfThere(command.writePath, ignored);
            return {false, "Cannot finish " + command.outputFile + ": a file of that name came into the folder "
                               "during the job and was left as it is"};
        }
        const bool renamed = exists ? ::rename(command.writePath.c_str(), command.outputFile.c_str()) == 0
                                    : renameNoReplace(command.writePath, command.outputFile);
        if (renamed)
            return {};
        if (errno == EEXIST && !exists)
            continue;
        const int error = errno;
        int ignored = 0;
        removeIfThere(command.writePath, ignored);
        return failed("rename " + command.writePath + " to", command.outputFile, error);
    }
    int ignored = 0;
    removeIfThere(command.writePath, ignored);
    return {false, "Cannot finish " + command.outputFile + ": the name keeps being taken"};
}

StepResult discardOutput(const conversion_command::ConversionCommand& command)
{
    int error = 0;
    if (command.writePath.empty() || removeIfThere(command.writePath, error))
        return {};
    return failed("delete", command.writePath, error);
}

}  // namespace output_files
