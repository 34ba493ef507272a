#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace faulttest {

// For as long as it lives, every tool the program starts meets a fault in one folder: files
// below `folder` cannot grow past `bytes` (a full disk: ENOSPC, the last write cut short), or
// the writing process kills itself with SIGKILL at that size. `program` ("client123" or
// "client") limits the fault to one of the tools. Works by preloading a small library into
// the children through the environment they inherit; the previous environment comes back
// at destruction.
class ToolFaults {
public:
    enum class Action { DiskFull, Kill };

    ToolFaults(const std::filesystem::path& folder, long long bytes, Action action,
               const std::string& program = {});
    ~ToolFaults();
    ToolFaults(const ToolFaults&) = delete;
    ToolFaults& operator=(const ToolFaults&) = delete;

private:
    void set(const char* name, const std::string& value);

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace faulttest
