#pragma once

#include <optional>
#include <string>
#include <string_view>

// How many tool runs a stage keeps going at once.
namespace run_limit {

// The environment variable that sets the default for tests and benchmarks.
inline constexpr const char* kEnvironmentName = "AURALON_MAX_JOBS";
// Far beyond any core count a desktop has; a typo must not start a thousand converters.
inline constexpr int kHighest = 64;

// An environment variable's text without surrounding blanks ("" when unset).
std::string_view trimmedValue(const char* text);

// The number of cores this process may run on (its affinity mask), at least 1.
int usableCores();

// A whole number 1..kHighest written in the variable, surrounding blanks allowed; nothing for
// anything else (unset, empty, 0, negative, text, out of range).
std::optional<int> parseLimit(const char* text);

// The "Files at once" default: the variable when it holds a valid number, else `cores`.
int defaultLimit(const char* environmentValue, int cores);

}  // namespace run_limit
