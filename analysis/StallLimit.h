#pragma once

#include <cstdint>
#include <optional>

// How long a child run may stay silent before it counts as hung. A converter prints progress
// about twice a second and the normaliser a line per file, so silence means a stall; the
// limit grows with the file's length for tools that print nothing until a file is done.
namespace stall_limit {

// The environment variable that replaces the base for tests and the command line.
inline constexpr const char* kEnvironmentName = "AURALON_STALL_SECONDS";
inline constexpr double kDefaultSeconds = 60;
// A day: beyond that a typo, not a choice.
inline constexpr double kHighestSeconds = 86400;

// A number of seconds above 0 and up to kHighestSeconds, "." as decimal point, surrounding
// blanks allowed; nothing for anything else.
std::optional<double> parseSeconds(const char* text);

// The base: the variable when it holds a valid number, else kDefaultSeconds.
double baseSeconds(const char* environmentValue);

// The silence allowed for a file of durationUs (unknown: negative): the base plus half its
// length, in milliseconds; 0 (no limit) for a base that is not above 0.
int limitMs(double baseSeconds, std::int64_t durationUs);

// A limit as the message names it: whole seconds, rounded up.
inline int shownSeconds(int limitMs) { return (limitMs + 999) / 1000; }

}  // namespace stall_limit
