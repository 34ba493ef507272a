#pragma once

#include <stdexcept>
#include <string>

// A file that cannot be read, written or understood. The text is the reason alone
// ("truncated: ...", "cannot read: Permission denied"); the caller adds the file name.
class WavError : public std::runtime_error {
public:
    explicit WavError(const std::string& reason) : std::runtime_error(reason) {}
};

// Builds "<action>: <strerror(errnum)>".
std::string systemReason(const std::string& action, int errnum);
