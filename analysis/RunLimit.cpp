#include "analysis/RunLimit.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include <sched.h>

namespace run_limit {

int usableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

std::string_view trimmedValue(const char* text)
{
    if (!text)
        return {};
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    return {begin, static_cast<std::size_t>(end - begin)};
}

std::optional<int> parseLimit(const char* text)
{
    const std::string_view trimmed = trimmedValue(text);
    int value = 0;
    const auto [stop, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (trimmed.empty() || error != std::errc() || stop != trimmed.data() + trimmed.size() || value < 1
        || value > kHighest)
        return std::nullopt;
    return value;
}

int defaultLimit(const char* environmentValue, int cores)
{
    return parseLimit(environmentValue).value_or(std::max(1, cores));
}

}  // namespace run_limit
