#include "analysis/StallLimit.h"

#include "analysis/RunLimit.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace stall_limit {

std::optional<double> parseSeconds(const char* text)
{
    const std::string_view trimmed = run_limit::trimmedValue(text);
    const char* end = trimmed.data() + trimmed.size();
    double value = 0;
    const auto [stop, error] = std::from_chars(trimmed.data(), end, value, std::chars_format::fixed);
    if (trimmed.empty() || error != std::errc() || stop != end || !(value > 0) || value > kHighestSeconds)
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
