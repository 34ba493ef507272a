#pragma once

#include <stdexcept>
#include <string>

// Raised by the library loader: a missing entry point while binding, or a library the
// caller needs that is not loaded ("Library %s not loaded.").
class TFFLoaderError : public std::runtime_error {
public:
    explicit TFFLoaderError(const std::string& text) : std::runtime_error(text) {}
};
