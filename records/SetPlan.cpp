#include "records/SetPlan.h"

#include "GainRules.h"
#include "conversion/ContainerTable.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"
#include "records/RecordFiles.h"
#include "records/ScanRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <array>
#include <cmath>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace set_plan {

namespace {

using conversion_command::VolumeMode;

constexpr std::array<std::pair<VolumeMode, const char*>, 7> kModeNames{{
    {VolumeMode::RmsSingularly, "track"},
    {VolumeMode::RmsCollectively, "album"},
    {VolumeMode::RmsWeighted, "weighted"},
    {VolumeMode::RmsArithmetic, "arithmetic"},
    {VolumeMode::PeakTrackGain, "peak"},
    {VolumeMode::ChangePercent, "percent"},
    {VolumeMode::ChangeGain, "gain"},
}};

constexpr std::size_t kRefusalsShown = 20;

QString qs(const std::string& text) { return QString::fromStdString(text); }
std::string ss(const QJsonValue& value) { return value.toString().toStdString(); }

// A level as JSON: null for none or silence.
QJsonValue level(std::optional<double> value)
{
    return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue();
}
std::optional<double> levelOf(const QJsonValue& value)
{
    return value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt;
}
double levelOrSilence(const QJsonValue& value) { return value.isDouble() ? value.toDouble() : -HUGE_VAL; }

std::string groupOf(const std::string& key, bool byFolder)
{
    const std::size_t slash = key.rfind('/');
    return byFolder && slash != std::string::npos ? key.substr(0, slash) : std::string();
}

// The output names, in the order of the rows, as one job would pick them: the planned name, or
// "name (2)" and on when an earlier row took it or a file of that name is already there.
void nameOutputs(Plan& plan)
{
    const Settings& s = plan.settings;
    std::unordered_set<std::string> taken;
    for (const Row& row : plan.rows)
        taken.insert(row.source);
    for (Row& row : plan.rows) {
        if (!row.error.empty())
            continue;
        const std::string planned =
            output_names::plannedOutputPath(row.source, s.outputFolder, s.prefix, s.formatConverting, s.format);
        std::string name = planned;
        for (int n = 2; taken.count(name) || !file_identity::lookUp(name).missing(); ++n)
            name = output_names::numberedVariant(planned, n);
        taken.insert(name);
        row.output = name;
    }
}

bool lossyOutput(const Plan& plan)
{
    for (const Row& row : plan.rows)
        if (!row.error.empty() ? false
                               : container_table::isLossyExtension(output_names::outputExtension(
                                     row.source, plan.settings.formatConverting, plan.settings.format)))
            return true;
    return false;
}

struct Reading {
    std::vector<Row> rows;
    std::unordered_map<std::string, std::size_t> byKey;
    std::vector<double> headroom;
    std::vector<std::int64_t> mtime;
    std::vector<std::pair<std::size_t, std::size_t>> from;  // the file and line of each row's record
    std::map<std::string, BlockHistogram> blocks;            // each group's, of its measured files
    bool rescanned = false;                                   // some key has several records
};

bool hasLoudness(const std::optional<Measurement>& m)
{
    return m && gain_rules::statusOf(m->seconds, m->integratedLufs) == gain_rules::Status::Measured;
}

// Takes a record unless a newer one of its key was taken; its blocks go to its group's sum.
void take(Reading& reading, ScanRecord&& record, const Settings& settings, std::pair<std::size_t, std::size_t> from)
{
    const auto [found, fresh] = reading.byKey.emplace(record.key, reading.rows.size());
    const std::size_t at = found->second;
    if (!fresh) {
        reading.rescanned = true;
        if (reading.mtime[at] > record.mtimeNs)
            return;  // an older scan of a file scanned again since
    }
    Row row;
    row.key = std::move(record.key);
    row.source = settings.root == "/" ? "/" + row.key : settings.root + "/" + row.key;
    row.group = groupOf(row.key, settings.groupByFolder);
    row.error = record.status == ScanRecord::Status::Failed ? record.reason : std::string();
    if (hasLoudness(record.measurement))
        reading.blocks[row.group].merge(record.measurement->blocks);
    if (record.measurement) {
        row.before = std::move(record.measurement);
        row.before->blocks = {};
    }
    if (fresh) {
        reading.rows.push_back(std::move(row));
        reading.headroom.push_back(record.headroom);
        reading.mtime.push_back(record.mtimeNs);
        reading.from.push_back(from);
    } else {
        reading.rows[at] = std::move(row);
        reading.headroom[at] = record.headroom;
        reading.mtime[at] = record.mtimeNs;
        reading.from[at] = from;
    }
}

// The groups' sums again from the records kept alone, when a file was scanned more than once.
std::string sumAgain(Reading& reading, const std::vector<std::string>& files, bool byFolder)
{
    std::unordered_set<std::uint64_t> kept;
    for (const auto& [file, line] : reading.from)
        kept.insert(static_cast<std::uint64_t>(file) << 40 | line);
    reading.blocks.clear();
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::size_t number = 0;
        const std::string error = record_files::forEachLine(files[f], [&](std::string_view line, bool) {
            if (!kept.count(static_cast<std::uint64_t>(f) << 40 | ++number))
                return true;
            const std::optional<ScanRecord> record = scan_record::parse(line);
            if (record && hasLoudness(record->measurement))
                reading.blocks[groupOf(record->key, byFolder)].merge(record->measurement->blocks);
            return true;
        });
        if (!error.empty())
            return error;
    }
    return {};
}

}  // namespace

std::string modeName(VolumeMode mode)
{
    for (const auto& [m, name] : kModeNames)
        if (m == mode)
            return name;
    return {};
}

std::optional<VolumeMode> modeNamed(const std::string& name)
{
    for (const auto& [m, n] : kModeNames)
        if (name == n)
            return m;
    return std::nullopt;
}

Merged merge(const std::string& recordsFolder, const Settings& settings)
{
    Merged merged;
    const std::vector<std::string> files = record_files::listed(recordsFolder, merged.error);
    if (!merged.error.empty())
        return merged;
    const std::string hash = scan_record::settingsHash();
    Reading reading;
    std::size_t refusedCount = 0;
    auto refuse = [&](const std::string& where, const std::string& why) {
        if (++refusedCount <= kRefusalsShown)
            merged.refused.push_back(where + ": " + why);
    };
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::size_t number = 0;
        const std::string error = record_files::forEachLine(files[f], [&](std::string_view line, bool ended) {
            const std::string where = files[f] + ":" + std::to_string(++number);
            std::optional<ScanRecord> record = ended ? scan_record::parse(line) : std::nullopt;
            if (!record)
                refuse(where, ended ? "damaged record" : "truncated record");
            else if (record->version != settings.version)
                refuse(where, record->key + ": made by version " + record->version + ", not " + settings.version);
            else if (record->settings != hash)
                refuse(where, record->key + ": measured with other settings (" + record->settings + ")");
            else if (refusedCount == 0)
                take(reading, std::move(*record), settings, {f, number});
            return true;
        });
        if (!error.empty()) {
            merged.error = error;
            return merged;
        }
    }
    if (refusedCount > kRefusalsShown)
        merged.refused.push_back("and " + std::to_string(refusedCount - kRefusalsShown) + " more records");
    if (refusedCount > 0)
        return merged;

    Plan plan;
    plan.settings = settings;
    plan.rows = std::move(reading.rows);
    // Rows in the order of their keys, as one job over the sorted list would have them.
    std::vector<std::size_t> order(plan.rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return plan.rows[a].key < plan.rows[b].key; });
    std::vector<Row> sorted;
    std::vector<double> headroom;
    sorted.reserve(order.size());
    for (std::size_t i : order) {
        sorted.push_back(std::move(plan.rows[i]));
        headroom.push_back(reading.headroom[i]);
    }
    plan.rows = std::move(sorted);
    plan.settings.plan.lossyOutput = lossyOutput(plan);

    if (reading.rescanned) {
        merged.error = sumAgain(reading, files, settings.groupByFolder);
        if (!merged.error.empty())
            return merged;
    }

    // One plan per group, by the job's own rules. The plan sums the blocks of its measured files:
    // the group's sum goes to its first measured file, the others bring none.
    std::map<std::string, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < plan.rows.size(); ++i)
        groups[plan.rows[i].group].push_back(i);
    for (auto& [group, members] : groups) {
        std::vector<loudness_plan::File> planFiles;
        planFiles.reserve(members.size());
        bool handed = false;
        for (std::size_t i : members) {
            loudness_plan::File file{plan.rows[i].before, headroom[i], std::nullopt};
            if (!handed && hasLoudness(file.measurement)) {
                file.measurement->blocks = std::move(reading.blocks[group]);
                handed = true;
            }
            planFiles.push_back(std::move(file));
        }
        const loudness_plan::Plan made = loudness_plan::make(plan.settings.plan, planFiles);
        for (std::size_t k = 0; k < members.size(); ++k) {
            Row& row = plan.rows[members[k]];
            row.plan = made.rows[k];
            if (!row.error.empty())
                row.plan.note = row.error;
        }
        if (made.setLoudnessLufs)
            plan.sets.push_back({group, *made.setLoudnessLufs});
    }
    nameOutputs(plan);
    merged.plan = std::move(plan);
    return merged;
}

std::string text(const Plan& plan)
{
    const Settings& s = plan.settings;
    QJsonObject head{
        {"kind", "plan"},
        {"version", qs(s.version)},
        {"mode", qs(modeName(s.plan.mode))},
        {"percent", s.plan.percent},
        {"gain_db", s.plan.gainDb},
        {"gain", qs(s.gainText)},
        {"target_lufs", s.plan.targetLufs},
        {"ceiling_dbtp", s.plan.ceilingDbtp},
        {"limiter", s.plan.limiter},
        {"lossy_output", s.plan.lossyOutput},
        {"format_converting", s.formatConverting},
        {"format", qs(s.format)},
        {"prefix", qs(s.prefix)},
        {"output", qs(s.outputFolder)},
        {"root", qs(s.root)},
        {"group_by_folder", s.groupByFolder},
    };
    std::string out = QJsonDocument(head).toJson(QJsonDocument::Compact).toStdString() + "\n";
    for (const Row& row : plan.rows) {
        const std::optional<Measurement>& m = row.before;
        const loudness_plan::Row& p = row.plan;
        QJsonObject o{
            {"kind", "row"},
            {"key", qs(row.key)},
            {"source", qs(row.source)},
            {"output", qs(row.output)},
            {"group", qs(row.group)},
            {"error", qs(row.error)},
            {"measured", m.has_value()},
            {"loudness_lufs", level(m ? std::optional(m->integratedLufs) : std::nullopt)},
            {"range_lu", level(m ? std::optional(m->rangeLu) : std::nullopt)},
            {"true_peak_dbtp", level(m ? std::optional(m->truePeakDbtp) : std::nullopt)},
            {"sample_peak_dbfs", level(m ? std::optional(m->samplePeakDbfs) : std::nullopt)},
            {"duration_s", m ? m->seconds : 0.0},
            {"planned", p.planned},
            {"changes", p.changes},
            {"gain_db", level(p.gainDb)},
            {"expected_lufs", level(p.loudnessAfterLufs)},
            {"true_peak_after_dbtp", level(p.truePeakAfterDbtp)},
            {"peak_limited", p.peakLimited},
            {"limited", p.limited},
            {"limited_by_db", p.limitedByDb},
            {"note", qs(p.note)},
        };
        out += QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n";
    }
    for (const Set& set : plan.sets)
        out += QJsonDocument(QJsonObject{{"kind", "set"}, {"group", qs(set.group)}, {"loudness_lufs", set.loudnessLufs}})
                   .toJson(QJsonDocument::Compact)
                   .toStdString()
               + "\n";
    return out;
}

std::string write(const Plan& plan, const std::string& path)
{
    QSaveFile file(QString::fromStdString(path));
    const std::string bytes = text(plan);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0
        || !file.commit())
        return "Cannot write " + path + ": " + file.errorString().toStdString();
    return {};
}

std::optional<Plan> read(const std::string& path, std::string& error)
{
    Plan plan;
    bool headed = false;
    std::size_t number = 0;
    error = record_files::forEachLine(path, [&](std::string_view line, bool ended) {
        const std::string where = path + ":" + std::to_string(++number);
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())));
        const QJsonObject o = document.object();
        const QString kind = o.value("kind").toString();
        const std::optional<VolumeMode> mode = modeNamed(ss(o.value("mode")));
        if (!ended || !document.isObject() || (kind == "plan") == headed || (kind == "plan" && !mode)) {
            error = where + ": not a line of a plan";
            return false;
        }
        if (kind == "plan") {
            Settings& s = plan.settings;
            s.version = ss(o.value("version"));
            s.plan = {*mode,
                      o.value("percent").toInt(),
                      o.value("gain_db").toDouble(),
                      o.value("target_lufs").toDouble(),
                      o.value("ceiling_dbtp").toDouble(),
                      o.value("limiter").toBool(),
                      o.value("lossy_output").toBool()};
            s.gainText = ss(o.value("gain"));
            s.formatConverting = o.value("format_converting").toBool();
            s.format = ss(o.value("format"));
            s.prefix = ss(o.value("prefix"));
            s.outputFolder = ss(o.value("output"));
            s.root = ss(o.value("root"));
            s.groupByFolder = o.value("group_by_folder").toBool();
            headed = true;
        } else if (kind == "set") {
            plan.sets.push_back({ss(o.value("group")), o.value("loudness_lufs").toDouble()});
        } else {
            Row row;
            row.key = ss(o.value("key"));
            row.source = ss(o.value("source"));
            row.output = ss(o.value("output"));
            row.group = ss(o.value("group"));
            row.error = ss(o.value("error"));
            if (o.value("measured").toBool())
                row.before = Measurement{levelOrSilence(o.value("loudness_lufs")), o.value("range_lu").toDouble(),
                                         levelOrSilence(o.value("true_peak_dbtp")),
                                         levelOrSilence(o.value("sample_peak_dbfs")), o.value("duration_s").toDouble(), {}};
            loudness_plan::Row& p = row.plan;
            p.planned = o.value("planned").toBool();
            p.changes = o.value("changes").toBool();
            p.gainDb = o.value("gain_db").isDouble() ? o.value("gain_db").toDouble() : -HUGE_VAL;
            p.loudnessAfterLufs = levelOf(o.value("expected_lufs"));
            p.truePeakAfterDbtp = levelOf(o.value("true_peak_after_dbtp"));
            p.peakLimited = o.value("peak_limited").toBool();
            p.limited = o.value("limited").toBool();
            p.limitedByDb = o.value("limited_by_db").toDouble();
            p.note = ss(o.value("note"));
            plan.rows.push_back(std::move(row));
        }
        return true;
    });
    if (error.empty() && !headed)
        error = path + ": not a plan";
    return error.empty() ? std::optional<Plan>(std::move(plan)) : std::nullopt;
}

std::string appliedFile(const std::string& planPath, int index, int count)
{
    return planPath + ".applied-" + std::to_string(index + 1) + "-of-" + std::to_string(count) + ".jsonl";
}

std::string appliedLine(const Applied& applied)
{
    const QJsonObject o{{"row", static_cast<qint64>(applied.row)},
                        {"status", applied.written ? "written" : "failed"},
                        {"reason", qs(applied.reason)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

std::vector<std::optional<Applied>> readApplied(const std::string& planPath, std::size_t rows)
{
    std::vector<std::optional<Applied>> applied(rows);
    const QFileInfo plan(QString::fromStdString(planPath));
    const QStringList names =
        plan.dir().entryList({plan.fileName() + ".applied-*.jsonl"}, QDir::Files, QDir::Name);
    for (const QString& name : names)
        record_files::forEachLine(plan.dir().filePath(name).toStdString(), [&](std::string_view line, bool ended) {
            const QJsonObject o =
                QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size()))).object();
            const qint64 row = o.value("row").toInteger(-1);
            if (ended && row >= 0 && static_cast<std::size_t>(row) < rows)
                applied[static_cast<std::size_t>(row)] =
                    Applied{static_cast<std::size_t>(row), o.value("status").toString() == "written", ss(o.value("reason"))};
            return true;
        });
    return applied;
}

LoudnessReport report(const Plan& plan, const std::vector<std::optional<Applied>>& applied)
{
    LoudnessReport report;
    report.settings = plan.settings.plan;
    if (plan.sets.size() == 1)
        report.setLoudnessLufs = plan.sets.front().loudnessLufs;
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        const Row& row = plan.rows[i];
        LoudnessReport::Row r;
        r.file = row.source;
        r.before = row.before;
        r.plan = row.plan;
        r.error = row.error;
        if (r.error.empty() && i < applied.size() && applied[i] && !applied[i]->written)
            r.error = applied[i]->reason;
        report.rows.push_back(std::move(r));
    }
    return report;
}

}  // namespace set_plan
