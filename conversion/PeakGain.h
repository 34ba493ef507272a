#pragma once

#include <optional>
#include <string>
#include <string_view>

// The gain in dB that brings a file's highest peak to full scale, as the converter's level
// report printed it: the figure and the number of decimals it was printed with, since the
// loudest sample may lie up to half a unit of the last printed digit higher.
struct PeakGain {
    double db = 0;
    int decimals = 0;

    // A plain number, blanks and control characters around it allowed ("3.5", " 4.2\t");
    // nothing for anything else ("", "inf", "1,5").
    static std::optional<PeakGain> fromText(std::string_view text);

    // The figure as printed: "3.5", "-1.5", "0.0".
    std::string text() const;

    // The gain to apply: half a unit of the last printed digit less, so that it never lifts a
    // sample above full scale ("1.1" -> "1.05"); no gain stays no gain ("0.0").
    std::string appliedText() const;
};
