#pragma once

#include <string_view>

// What the normaliser prints for each file and the program counts as that file done:
// "Applying adjustment of <gain>dB to <file>..." for a file it changed, and
// "<file>: not adjusting... <reason>" for one it left as it was.
namespace normalizer_markers {

inline constexpr std::string_view kAdjusting = "Applying adjustment of";
inline constexpr std::string_view kNotAdjusting = "not adjusting...";

}  // namespace normalizer_markers
