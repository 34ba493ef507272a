#include "support/Processes.h"

#include "support/TempDir.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>


namespace testsupport {

namespace {

bool runningNow(long pid)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    return close == std::string::npos || close + 2 >= content.size() || content[close + 2] != 'Z';
}

}  // namespace

std::vector<long> descendantsOf(long parent)
{
    std::vector<long> found;
    std::vector<long> queue{parent};
    while (!queue.empty()) {
        const long p = queue.back();
        queue.pop_back();
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            const std::string stat = testsupport::readFile(entry.path() / "stat");
            const auto close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            long ppid = 0;
            if (std::sscanf(stat.c_str() + close + 2, "%*c %ld", &ppid) == 1 && ppid == p) {
                found.push_back(std::stol(name));
                queue.push_back(std::stol(name));
            }
        }
    }
    return found;
}

bool processAlive(long pid)
{
    // SIGKILL is delivered asynchronously: give a killed process a moment to be gone.
    for (int attempt = 0; attempt < 200 && runningNow(pid); ++attempt)
        ::usleep(10000);
    return runningNow(pid);
}

}  // namespace testsupport
