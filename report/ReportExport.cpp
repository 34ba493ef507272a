#include "report/ReportExport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <charconv>
#include <cstdio>
#include <cmath>
#include <string_view>
#include <vector>

namespace report_export {

namespace {

using conversion_command::VolumeMode;

// One field of a record, as text for CSV and TSV and as a JSON value.
struct Field {
    const char* name;
    std::string text;
    QJsonValue json;
};
using Record = std::vector<Field>;

// A figure rounded as the table shows it, the same in every format.
Field level(const char* name, std::optional<double> value, int decimals = 2)
{
    if (!value || std::isnan(*value))
        return {name, "", QJsonValue::Null};
    if (std::isinf(*value))
        return {name, *value < 0 ? "-inf" : "inf", QJsonValue::Null};
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(*value * scale) / scale;
    if (rounded == 0)
        rounded = 0;  // no "-0.00"
    char text[512];  // any double in fixed notation
    char* end = std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed, decimals).ptr;
    return {name, std::string(text, end), rounded};
}

Field words(const char* name, const std::string& text)
{
    return {name, text, QString::fromStdString(text)};
}

Field flag(const char* name, bool value)
{
    return {name, value ? "yes" : "no", value};
}

std::string modeName(VolumeMode mode)
{
    switch (mode) {
    case VolumeMode::RmsSingularly: return "rms-track";
    case VolumeMode::RmsCollectively: return "rms-album";
    case VolumeMode::RmsWeighted: return "rms-weighted";
    case VolumeMode::RmsArithmetic: return "rms-arithmetic";
    case VolumeMode::PeakTrackGain: return "peak";
    case VolumeMode::ChangePercent: return "percent";
    case VolumeMode::ChangeGain: return "gain";
    }
    return {};
}

std::string verdictText(const LoudnessReport::Row& row)
{
    if (row.existing == "skip" && !row.after)
        return "skipped";
    if (!row.verdict && row.error.starts_with("not checked"))
        return "not checked";
    if (row.leftUnchanged)
        return "left unchanged";
    if (!row.tagsWritten.empty())
        return "tags written";
    if (row.verdict)
        return row.verdict->pass ? "pass" : "miss";
    return row.error.empty() ? "" : "failed";
}

Record fileRecord(const LoudnessReport::Row& row)
{
    const std::optional<Measurement>& b = row.before;
    const std::optional<Measurement>& a = row.after;
    const loudness_plan::Row& p = row.plan;
    std::string reason = row.error;
    if (reason.empty())
        reason = row.verdict && !row.verdict->pass ? row.verdict->reason : p.note;
    if (!row.redoError.empty())
        reason += "; not written again: " + row.redoError;
    auto of = [](const std::optional<Measurement>& m, double Measurement::*figure) {
        return m ? std::optional<double>((*m).*figure) : std::nullopt;
    };
    return {words("kind", "file"),
            words("file", row.file),
            words("error", row.error),
            level("loudness_lufs", of(b, &Measurement::integratedLufs)),
            level("range_lu", of(b, &Measurement::rangeLu)),
            level("true_peak_dbtp", of(b, &Measurement::truePeakDbtp)),
            level("sample_peak_dbfs", of(b, &Measurement::samplePeakDbfs)),
            level("duration_s", of(b, &Measurement::seconds), 3),
            level("gain_db", p.planned ? std::optional<double>(p.gainDb) : std::nullopt),
            level("downmix_correction_db", p.downmixCorrectionDb),
            level("true_peak_after_dbtp", p.truePeakAfterDbtp),
            flag("limited", p.limited || p.peakLimited),
            level("limited_by_db", p.limited ? std::optional<double>(p.limitedByDb) : std::nullopt),
            level("expected_lufs", p.loudnessAfterLufs),
            level("after_loudness_lufs", of(a, &Measurement::integratedLufs)),
            level("after_true_peak_dbtp", of(a, &Measurement::truePeakDbtp)),
            level("after_sample_peak_dbfs", of(a, &Measurement::samplePeakDbfs)),
            words("verdict", verdictText(row)),
            words("reason", reason),
            row.after ? Field{"attempts", std::to_string(row.attempts), row.attempts}
                      : Field{"attempts", "", QJsonValue::Null},
            words("first_verdict", row.firstVerdict ? (row.firstVerdict->pass ? "pass" : "miss") : ""),
            words("first_reason", row.firstVerdict ? row.firstVerdict->reason : ""),
            words("tags_written", row.tagsWritten),
            words("existing_file", row.existingFile),
            words("existing", row.existing)};
}

// A set's record: its folder ("" for the whole list) and its loudness, every other field empty.
Record setRecord(const loudness_plan::Set& set)
{
    Record record = fileRecord({});
    for (Field& f : record)
        f = f.name == std::string_view("kind")          ? words("kind", "set")
            : f.name == std::string_view("file")          ? words("file", set.group)
            : f.name == std::string_view("loudness_lufs") ? level("loudness_lufs", set.loudnessLufs)
            : f.name == std::string_view("limited") || f.name == std::string_view("attempts")
                ? Field{f.name, "", QJsonValue::Null}
                                                          : words(f.name, "");
    return record;
}

std::vector<Record> records(const LoudnessReport& report)
{
    std::vector<Record> out;
    for (const LoudnessReport::Row& row : report.rows)
        out.push_back(fileRecord(row));
    for (const loudness_plan::Set& set : report.sets)
        out.push_back(setRecord(set));
    return out;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted += '"';
}

std::string tsvField(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const char escaped = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\\' ? '\\' : 0;
        if (escaped)
            out += '\\';
        out += escaped ? escaped : c;
    }
    return out;
}

std::string table(const std::vector<Record>& recs, char separator)
{
    auto field = [&](const std::string& text) { return separator == ',' ? csvField(text) : tsvField(text); };
    std::string out;
    auto line = [&](const Record& record, bool names) {
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (i > 0)
                out += separator;
            out += names ? std::string(record[i].name) : field(record[i].text);
        }
        out += '\n';
    };
    line(fileRecord({}), true);
    for (const Record& record : recs)
        line(record, false);
    return out;
}

QJsonObject object(const Record& record)
{
    QJsonObject o;
    for (const Field& f : record)
        o.insert(QString::fromLatin1(f.name), f.json);
    return o;
}

QJsonObject settingsObject(const loudness_plan::Settings& s)
{
    return QJsonObject{{"mode", QString::fromStdString(modeName(s.mode))},
                       {"percent", s.percent},
                       {"gain_db", s.gainDb},
                       {"target_lufs", s.targetLufs},
                       {"ceiling_dbtp", s.ceilingDbtp},
                       {"limiter", s.limiter},
                       {"lossy_output", s.lossyOutput}};
}

}  // namespace

std::string redoSummary(const LoudnessReport::Row& row, const loudness_plan::Settings& settings)
{
    if (row.attempts < 2 || !row.firstAfter || !row.verdict)
        return {};
    auto signedFigure = [](double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%+.1f", value);
        return std::string(text);
    };
    const Measurement& first = *row.firstAfter;
    std::string text;
    if (settings.mode == VolumeMode::PeakTrackGain) {
        text = "first sample peak " + signedFigure(first.samplePeakDbfs) + " dBFS";
    } else {
        text = "first " + level("", first.integratedLufs, 1).text + " LUFS";
        if (first.truePeakDbtp > settings.ceilingDbtp)
            text += ", " + signedFigure(first.truePeakDbtp - settings.ceilingDbtp) + " dBTP over";
    }
    return text + (row.verdict->pass ? "; now within its promise" : "; still missed: " + row.verdict->reason);
}

std::optional<Format> formatOf(const std::string& path)
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.')
        return std::nullopt;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (extension == "csv")
        return Format::Csv;
    if (extension == "tsv")
        return Format::Tsv;
    if (extension == "json")
        return Format::Json;
    if (extension == "jsonl" || extension == "ndjson")
        return Format::JsonLines;
    return std::nullopt;
}

std::string text(const LoudnessReport& report, Format format)
{
    const std::vector<Record> recs = records(report);
    if (format == Format::Csv || format == Format::Tsv)
        return table(recs, format == Format::Csv ? ',' : '\t');
    if (format == Format::JsonLines) {
        std::string out;
        for (const Record& record : recs)
            out += QJsonDocument(object(record)).toJson(QJsonDocument::Compact).toStdString() + "\n";
        return out;
    }
    QJsonArray rows;
    for (const Record& record : recs)
        rows.append(object(record));
    const QJsonObject whole{{"settings", settingsObject(report.settings)}, {"rows", rows}};
    return QJsonDocument(whole).toJson(QJsonDocument::Indented).toStdString();
}

std::string write(const LoudnessReport& report, const std::string& path)
{
    const std::optional<Format> format = formatOf(path);
    if (!format)
        return "Cannot write " + path + ": not a .csv, .tsv, .json or .jsonl file";
    QSaveFile file(QFile::decodeName(path.c_str()));
    const std::string bytes = text(report, *format);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0 ||
        !file.commit())
        return "Cannot write " + path + ": " + file.errorString().toStdString();
    return {};
}

}  // namespace report_export
