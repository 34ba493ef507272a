#include "ToolFaults.h"

#include <cstdlib>

namespace faulttest {

ToolFaults::ToolFaults(const std::filesystem::path& folder, long long bytes, Action action,
                       const std::string& program)
{
    set("AURALON_FAULT_FOLDER", std::filesystem::absolute(folder).string());
    set("AURALON_FAULT_BYTES", std::to_string(bytes));
    set("AURALON_FAULT_ACTION", action == Action::Kill ? "kill" : "enospc");
    set("AURALON_FAULT_PROGRAM", program);
    set("LD_PRELOAD", AURALON_FAULT_PRELOAD);
    // A tool built with AddressSanitizer refuses a library loaded ahead of its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    set("ASAN_OPTIONS", std::string(asan && *asan ? std::string(asan) + ":" : std::string()) +
                            "verify_asan_link_order=0");
}

ToolFaults::~ToolFaults()
{
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

void ToolFaults::set(const char* name, const std::string& value)
{
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
}

}  // namespace faulttest
