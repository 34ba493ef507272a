#pragma once

#include "Measurement.h"

#include <optional>
#include <string>
#include <string_view>

// The one line that the normaliser's measuring mode prints, and its reading by the program:
//   measured<TAB>I=<LUFS><TAB>LRA=<LU><TAB>TP=<dBTP><TAB>SP=<dBFS><TAB>T=<seconds><TAB>blocks=<histogram>
// e.g. "measured\tI=-14.2031\tLRA=6.40\tTP=-0.8125071\tSP=-1.0132\tT=60.0215\tblocks=512:3,0,7".
// Levels of silence are "-inf"; numbers have a "." whatever the locale; the histogram is in
// BlockHistogram's text form. Peaks and length are written to the last bit (the gain rules
// decide by them), the loudness to 0.0001 LU and read to the last bit from its histogram.
namespace measure_line {

inline constexpr std::string_view kMarker = "measured";

std::string format(const Measurement& measurement);

// The measurement of a line in exactly that form, its fields in that order. Nothing for any
// other line: another marker or key, a field missing or extra, a figure that is no number or
// NaN, a level of +infinity, a range or length below 0 or unknown, a malformed histogram, or a
// loudness that its own histogram does not give (a line damaged on the way).
std::optional<Measurement> parse(std::string_view line);

// What the normaliser prints of each of its files with --levels, before it adjusts the file:
//   <file><TAB><the line above>
struct FileMeasurement {
    std::string file;
    Measurement measurement;
};
std::string formatFile(const std::string& file, const Measurement& measurement);
// Nothing for any other line, or one whose measurement parse() refuses.
std::optional<FileMeasurement> parseFile(std::string_view line);

}  // namespace measure_line
