#include "analysis/StallLimit.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace stall_limit {

std::optional<double> parseSeconds(const char* text)
{
    if (!text)
        return std::nullopt;
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (begin == end || error != std::errc() || stop != end || !(value > 0) || value > kHighestSeconds)
        return std::nullopt;
    return value;
}

double baseSeconds(const char* environmentValue)
{
    return parseSeconds(environmentValue).value_or(kDefaultSeconds);
}

int limitMs(double baseSeconds, std::int64_t durationUs)
{
    if (!(baseSeconds > 0))
        return 0;
    const double length = durationUs > 0 ? static_cast<double>(durationUs) / 1e6 : 0.0;
    // Ten days at most: QTimer counts in an int of milliseconds.
    const double ms = std::min((baseSeconds + 0.5 * length) * 1000.0, 864e6);
    return static_cast<int>(std::ceil(std::max(ms, 1.0)));
}

}  // namespace stall_limit
