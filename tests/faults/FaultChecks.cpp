#include "FaultChecks.h"

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace faulttest {

std::map<std::string, std::string> contentsOf(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file())
            files[fs::relative(it->path(), folder).string()] = testsupport::readFile(it->path());
    return files;
}

std::string strayEntries(const fs::path& folder)
{
    std::string stray;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool copy = name.size() > 4 && name.ends_with(".wav") &&
                          name.find_first_not_of("0123456789") == name.size() - 4;
        if (!copy)
            stray += name + " ";
    }
    return stray;
}

}  // namespace faulttest
