#pragma once

#include <string>

// The text shown for a result code of FFmpeg's open call: FFmpeg's own error codes, the
// negated POSIX error numbers and the negated socket error numbers, first match wins;
// "Error number %d occurred" for any other code.
namespace ff_error_text {

std::string errorText(int code);

}  // namespace ff_error_text
