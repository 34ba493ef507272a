#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Rules that read one complete line of tool output (see LineSplitter). None of them throws:
// a line they cannot use gives false, an empty text or std::nullopt.
namespace tool_output {

// Blanks and control characters (every byte up to 0x20) cut from both ends.
std::string_view trimmed(std::string_view text);

// ---- peak measurement (the converter's volumedetect report) ----

// The line holds "max_volume:"; for the caller this counts as "a level was reported".
bool isMaxVolumeLine(std::string_view line);

// The level text as the converter printed it, trimmed: from the first "max_volume:" on, the
// characters after the marker and the one blank that follows it, up to the first "dB".
// "[Parsed_volumedetect_0 @ 0x..] max_volume: -3.5 dB" -> "-3.5"; empty when there is no
// "max_volume:" or no "dB" after it.
std::string maxVolumeText(std::string_view line);

// The gain that brings the file's highest peak to full scale: the negative of the reported
// maximum, digits kept as printed. "-3.5" -> "3.5", "-12.25" -> "12.25", "1.5" -> "-1.5" (a
// file above full scale is lowered), "0.0" and "-0.0" -> "0.0". std::nullopt when the line
// reports no usable level: no marker, no "dB", "-inf" (a silent file: no gain at all) or
// anything that is not a plain decimal number.
std::optional<std::string> peakGainText(std::string_view line);

// ---- conversion progress ----

// The converter's elapsed time on a progress line, as three texts (the label shows them as
// they stand) and as seconds.
struct ProgressTime {
    std::string hours;
    std::string minutes;
    std::string seconds;
    double elapsedSeconds = 0;
};

// The line holds both "size=" and "time=": for the caller it counts as progress seen.
bool isProgressLine(std::string_view line);

// From a progress line "size=    1024kB time=00:01:30.50 bitrate=  93.0kbits/s": the text
// between "time=" and the blank in front of "bitrate=", split at its first two ":" into
// hours, minutes and seconds, each read with "." as decimal point whatever the locale.
// std::nullopt for any line this does not fit: no "size=", no "time=", "bitrate=" missing or in
// front of "time=", "N/A", a part that is no number.
std::optional<ProgressTime> parseProgress(std::string_view line);

// ---- error report ----

// The line holds "Error " (capital E, with the blank).
bool isErrorLine(std::string_view line);

// The converter could not finish its output: "Error writing trailer of <file>: <reason>" or
// "Error closing file <file>: <reason>" (it exits 0 after both: a full disk, say).
bool isWriteFailureLine(std::string_view line);

// An error line as the report gathers it: "### " + line + "   ".
std::string errorEntry(std::string_view line);

// ---- loudness (the converter's ebur128 summaries) ----

// What named loudness meters ("ebur128@<name>") have reported. A meter's summary begins with
// "[ebur128@src1 @ 0x55d0..] Summary:"; its later lines carry no name: the first
// "I:  -20.3 LUFS" among them is its integrated loudness and, for a meter that measures the
// sample peak ("peak=sample"), "Peak:  -6.9 dBFS" its highest sample.
struct LoudnessSummaries {
    std::string open;                          // the meter whose summary is being read, or ""
    bool integratedRead = false;               // its "I:" line has been read
    std::map<std::string, double> integrated;  // LUFS by meter name
    std::map<std::string, double> samplePeak;  // dBFS by meter name
};

// Reads one line into the summaries. A summary of an unnamed meter, a figure that is no
// plain decimal number, or a line outside a summary is passed over.
void readLoudnessLine(std::string_view line, LoudnessSummaries& summaries);

// ---- normaliser ----

// The line holds "Applying adjustment of" or "not adjusting...": one file done.
bool isNormalizerMarkerLine(std::string_view line);

}  // namespace tool_output
