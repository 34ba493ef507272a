#pragma once

#include "report/LoudnessReport.h"

#include <optional>
#include <string>

// A loudness report as a file: CSV, TSV, JSON or JSON Lines, chosen by the file's extension.
//
// Every format has the same fields, one record per file and, in the modes that have one, a last
// record for the set (kind "set", its loudness under loudness_lufs): kind, file, error,
// loudness_lufs, range_lu, true_peak_dbtp, sample_peak_dbfs, duration_s, gain_db,
// downmix_correction_db, true_peak_after_dbtp, limited, limited_by_db, expected_lufs,
// after_loudness_lufs, after_true_peak_dbtp, after_sample_peak_dbfs, verdict (pass, miss,
// left unchanged, failed, or empty before a job), reason, attempts (how often the output was
// written: 2 when its first missed and it was written again with the correction measured),
// first_verdict and first_reason (of that first output). Levels have two decimals as the
// table shows them, durations three. CSV and TSV have a header line; an unknown figure is
// empty, silence "-inf"; CSV quotes as RFC 4180 does, TSV writes a tab, line break or
// backslash inside a field as \t, \n, \r or \\. JSON is one object {"settings": {...},
// "rows": [...]}, JSON Lines one row object per line; there an unknown figure or silence is
// null and "limited" is true or false.
namespace report_export {

enum class Format { Csv, Tsv, Json, JsonLines };

// ".csv", ".tsv", ".json", ".jsonl" or ".ndjson", in any letter case; nothing for others.
std::optional<Format> formatOf(const std::string& path);

// How a row written twice went, for its tip and the command line: "first -13.3 LUFS, +0.6
// dBTP over; now within its promise" (the peak mode: "first sample peak +0.7 dBFS; ..."), or
// "...; still missed: <reason>". "" for a row written once.
std::string redoSummary(const LoudnessReport::Row& row, const loudness_plan::Settings& settings);

std::string text(const LoudnessReport& report, Format format);

// Writes the report whole or not at all (nothing half-written is left); "" when written, else
// "Cannot write <path>: <reason>". A path of no known format is refused so.
std::string write(const LoudnessReport& report, const std::string& path);

}  // namespace report_export
