#pragma once

// The one machine-readable line every benchmark prints beside its own report, collected by
// bench/run into one table:
//   RESULT <TAB> work <TAB> Auralon <TAB> reference <TAB> ratio <TAB> target <TAB> met
// Fields are plain text; a tab or newline inside one would break the table, so they become
// spaces.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace bench {

inline std::string fieldText(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// met: yes / no, or "-" when the figure has no target.
inline void printResult(const std::string& work, const std::string& auralon,
                        const std::string& reference, const std::string& ratio,
                        const std::string& target, std::optional<bool> met)
{
    std::printf("RESULT\t%s\t%s\t%s\t%s\t%s\t%s\n", fieldText(work).c_str(),
                fieldText(auralon).c_str(), fieldText(reference).c_str(),
                fieldText(ratio).c_str(), fieldText(target).c_str(),
                met ? (*met ? "yes" : "NO") : "-");
    std::fflush(stdout);
}

// "12.3 s" from one second up, "45.6 ms" below.
inline std::string timeText(double seconds)
{
    char text[32];
    if (seconds >= 1.0)
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
    return text;
}

inline std::string format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// A size parameter from the command line (argv[index]) when given, else the default; a value
// below `least` is refused so that a typo cannot make a meaningless figure.
inline int sizeArgument(int argc, char** argv, int index, int fallback, int least = 1)
{
    if (argc <= index)
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(argv[index], &end, 10);
    if (end == argv[index] || *end != '\0' || value < least || value > 1000000) {
        std::fprintf(stderr, "bad size argument '%s' (at least %d)\n", argv[index], least);
        std::exit(2);
    }
    return static_cast<int>(value);
}

inline double secondsArgument(int argc, char** argv, int index, double fallback)
{
    if (argc <= index)
        return fallback;
    char* end = nullptr;
    const double value = std::strtod(argv[index], &end);
    if (end == argv[index] || *end != '\0' || !(value > 0.0) || value > 100000.0) {
        std::fprintf(stderr, "bad length argument '%s' (seconds above 0)\n", argv[index]);
        std::exit(2);
    }
    return value;
}

}  // namespace bench
