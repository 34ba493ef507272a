#include "normalizer/TempFile.h"

#include "normalizer/WavError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kNameMax = 255;
const std::string kSuffix = ".part";

std::string folderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TempFile::TempFile(const std::string& target) : target_(target)
{
    std::string folder = folderOf(target);
    std::string name = nameOf(target);
    std::size_t room = kNameMax - 1 - 7 - kSuffix.size();  // ".", ".XXXXXX", ".part"
    if (name.size() > room)
        name.resize(room);
    path_ = folder + "/." + name + ".XXXXXX" + kSuffix;
    int fd = ::mkostemps(path_.data(), static_cast<int>(kSuffix.size()), O_CLOEXEC);
    if (fd < 0)
        throw WavError(systemReason("cannot create a temporary file in " + folder, errno));
    fd_ = UniqueFd(fd);
}

TempFile::~TempFile()
{
    if (!committed_)
        ::unlink(path_.c_str());
}

void TempFile::replaceTarget()
{
    if (::fsync(fd_.get()) != 0)
        throw WavError(systemReason("cannot write " + path_, errno));
    if (int error = fd_.close())
        throw WavError(systemReason("cannot write " + path_, error));
    if (::rename(path_.c_str(), target_.c_str()) != 0)
        throw WavError(systemReason("cannot replace the file", errno));
    committed_ = true;
    // Make the rename itself durable; the data is already safe, so a failure here is
    // not worth failing the file for.
    UniqueFd folder(::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid())
        ::fsync(folder.get());
}
