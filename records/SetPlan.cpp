#include "records/SetPlan.h"

#include "GainRules.h"
#include "base/MediaExtensions.h"
#include "base/SetGroups.h"
#include "conversion/ContainerTable.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"
#include "records/FlatJson.h"
#include "records/RecordFiles.h"
#include "records/ScanRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <deque>
#include <future>
#include <thread>
#include <filesystem>
#include <functional>
#include <cmath>
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
constexpr std::size_t kWriteBlock = 1 << 20;  // bytes of plan lines written at once


// The output names, in the order of the rows, as one job would pick them: the planned name, or
// "name (2)" and on when an earlier row took it or a file of that name is already there.
void nameOutputs(Plan& plan)
{
    const Settings& s = plan.settings;
    // What is there already, listed once rather than looked up per row; the names point into
    // the rows, which stay where they are.
    std::vector<std::string> there;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(s.outputFolder, ec))
        there.push_back(entry.path().native());
    std::unordered_set<std::string_view> taken(there.begin(), there.end());
    taken.reserve(plan.rows.size() + there.size());
    // Only a source in the output folder can have an output's name.
    const std::string outputFolder = output_names::folderText(s.outputFolder);
    for (const Row& row : plan.rows)
        if (row.source.size() > outputFolder.size() && row.source.starts_with(outputFolder)
            && row.source[outputFolder.size()] == '/')
            taken.insert(row.source);
    // Whether a folder of sources is the output folder, asked of the file system once per folder.
    std::unordered_map<std::string, bool> inOutputFolder;
    // The output's extension by the source's: a set has few.
    std::vector<std::pair<std::string, std::string>> extensions;
    for (Row& row : plan.rows) {
        if (!row.error.empty())
            continue;
        const std::string sourceFolder = output_names::sourceFolderOf(row.source);
        auto known = inOutputFolder.find(sourceFolder);
        if (known == inOutputFolder.end())
            known = inOutputFolder.emplace(sourceFolder, file_identity::sameEntry(outputFolder, sourceFolder)).first;
        const std::string extension = media_extensions::extensionOf(row.source);
        auto output = std::find_if(extensions.begin(), extensions.end(), [&](const auto& e) { return e.first == extension; });
        if (output == extensions.end())
            output = extensions.insert(extensions.end(),
                                       {extension, output_names::outputExtension(row.source, s.formatConverting, s.format)});
        const std::string planned =
            output_names::plannedOutputPathTo(row.source, s.outputFolder, s.prefix, known->second, output->second);
        row.output = planned;
        for (int n = 2; !taken.insert(row.output).second; ++n)
            row.output = output_names::numberedVariant(planned, n);
    }
}

bool lossyOutput(const Plan& plan)
{
    // The output's extension follows from the source's alone: each is asked about once.
    std::unordered_set<std::string> asked;
    for (const Row& row : plan.rows)
        if (row.error.empty() && asked.insert(media_extensions::extensionOf(row.source)).second
            && container_table::isLossyExtension(output_names::outputExtension(
                row.source, plan.settings.formatConverting, plan.settings.format)))
            return true;
    return false;
}

// Looks texts up by view, so that a key's group is found without a string of its own.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

struct Reading {
    std::vector<Row> rows;  // every record's, in the order read
    std::vector<std::pair<std::size_t, std::size_t>> from;  // the file and line of each row's record
    std::vector<std::pair<std::string, std::string>> roots;  // each root named, and where first
    // Each group's, of its measured files.
    std::unordered_map<std::string, BlockHistogram, TextHash, std::equal_to<>> blocks;
    std::pair<const std::string, BlockHistogram>* lastGroup = nullptr;  // files of a folder come together
};

bool hasLoudness(const std::optional<Measurement>& m)
{
    return m && gain_rules::statusOf(m->seconds, m->integratedLufs) == gain_rules::Status::Measured;
}

// Keeps a record's row; its blocks go to its group's sum. Which record of a key is kept is
// decided once all are read.
void take(Reading& reading, ScanRecord&& record, const Settings& settings, std::pair<std::size_t, std::size_t> from)
{
    Row row;
    row.key = std::move(record.key);
    row.size = record.size;
    row.mtimeNs = record.mtimeNs;
    row.error = record.status == ScanRecord::Status::Failed ? record.reason : std::string();
    row.headroom = record.headroom;
    if (hasLoudness(record.measurement)) {
        const std::string_view group = set_groups::groupOf(row.key, settings.groupByFolder);
        if (!reading.lastGroup || reading.lastGroup->first != group) {
            auto found = reading.blocks.find(group);
            if (found == reading.blocks.end())
                found = reading.blocks.try_emplace(std::string(group)).first;
            reading.lastGroup = &*found;
        }
        reading.lastGroup->second.merge(record.measurement->blocks);
    }
    if (record.measurement) {
        row.before = std::move(record.measurement);
        row.before->blocks = {};
    }
    reading.rows.push_back(std::move(row));
    reading.from.push_back(from);
}

// The rows read, in the order of their keys, one per key: of several records of a file
// scanned again, the newest (the last read of equal times). Sorted and gathered where they
// are, since a million rows are not held twice; `kept` gets the records of the rows kept.
std::vector<Row> keptInKeyOrder(Reading& reading, std::unordered_set<std::uint64_t>& kept)
{
    std::vector<Row> rows = std::move(reading.rows);

    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&rows](std::size_t a, std::size_t b) {
        const int byKey = rows[a].key.compare(rows[b].key);
        return byKey != 0 ? byKey < 0 : a < b;
    });
    // A run of one key keeps its last record of the newest time; the others go to the end.
    std::vector<std::size_t> dropped;
    std::size_t kept_ = 0;
    for (std::size_t run = 0; run < order.size();) {
        std::size_t end = run + 1;
        std::size_t newest = order[run];
        for (; end < order.size() && rows[order[end]].key == rows[order[run]].key; ++end) {
            if (rows[order[end]].mtimeNs >= rows[newest].mtimeNs) {
                dropped.push_back(newest);
                newest = order[end];
            } else {
                dropped.push_back(order[end]);
            }
        }
        order[kept_++] = newest;
        run = end;
    }
    if (!dropped.empty()) {
        for (std::size_t k = 0; k < kept_; ++k) {
            const auto [file, line] = reading.from[order[k]];
            kept.insert(static_cast<std::uint64_t>(file) << 40 | line);
        }
        std::copy(dropped.begin(), dropped.end(), order.begin() + static_cast<std::ptrdiff_t>(kept_));
    }
    // rows[j] becomes the row read at order[j], cycle by cycle.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start)
            continue;
        Row first = std::move(rows[start]);
        for (std::size_t j = start;;) {
            const std::size_t k = order[j];
            order[j] = j;
            if (k == start) {
                rows[j] = std::move(first);
                break;
            }
            rows[j] = std::move(rows[k]);
            j = k;
        }
    }
    rows.resize(kept_);
    return rows;
}

// Notes a root the records name, and the record that named it first; a set has one, asked first.
void noteRoot(Reading& reading, const std::string& root, const std::string& file, std::size_t line)
{
    if (root.empty() || (!reading.roots.empty() && reading.roots.front().first == root))
        return;
    if (std::none_of(reading.roots.begin(), reading.roots.end(), [&](const auto& r) { return r.first == root; }))
        reading.roots.emplace_back(root, file + ":" + std::to_string(line));
}

// The groups' sums again from the records kept alone, when a file was scanned more than once.
std::string sumAgain(Reading& reading, const std::unordered_set<std::uint64_t>& kept,
                     const std::vector<std::string>& files, bool byFolder)
{
    reading.blocks.clear();
    reading.lastGroup = nullptr;
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::size_t number = 0;
        const std::string error = record_files::forEachLine(files[f], [&](std::string_view line, bool) {
            if (!kept.count(static_cast<std::uint64_t>(f) << 40 | ++number))
                return true;
            const std::optional<ScanRecord> record = scan_record::parse(line);
            if (record && hasLoudness(record->measurement))
                reading.blocks[std::string(set_groups::groupOf(record->key, byFolder))].merge(record->measurement->blocks);
            return true;
        });
        if (!error.empty())
            return error;
    }
    return {};
}

// How many records the files hold, from the first one's lines per byte: the rows are reserved
// at once, since a growing vector of a million rows would be held twice while it moves.
std::size_t expectedRecords(const std::vector<std::string>& files, std::size_t firstFileLines)
{
    std::error_code ec;
    const std::uintmax_t first = std::filesystem::file_size(files.front(), ec);
    if (ec || first == 0)
        return firstFileLines;
    std::uintmax_t total = 0;
    for (const std::string& file : files)
        total += std::filesystem::file_size(file, ec);
    if (ec)
        return firstFileLines;
    // A little more than the estimate: shards differ somewhat in their lines' lengths.
    return static_cast<std::size_t>(static_cast<double>(firstFileLines) * static_cast<double>(total)
                                    / static_cast<double>(first) * 1.02) + 16;
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
    // The files are read and their lines parsed a few at once, and taken in the files' order,
    // so that the plan is the one a single reader makes.
    struct Parsed {
        std::vector<std::optional<ScanRecord>> records;
        std::vector<bool> ended;
        std::string error;
    };
    auto parseFile = [&files](std::size_t f) {
        Parsed parsed;
        parsed.error = record_files::forEachLine(files[f], [&parsed](std::string_view line, bool ended) {
            parsed.records.push_back(ended ? scan_record::parse(line) : std::nullopt);
            parsed.ended.push_back(ended);
            return true;
        });
        return parsed;
    };
    const std::size_t ahead = std::max(2u, std::thread::hardware_concurrency());
    std::deque<std::future<Parsed>> reading_;
    for (std::size_t f = 0, next = 0; f < files.size(); ++f) {
        for (; next < files.size() && next < f + ahead; ++next)
            reading_.push_back(std::async(std::launch::async, parseFile, next));
        Parsed parsed = reading_.front().get();
        reading_.pop_front();
        if (!parsed.error.empty()) {
            merged.error = parsed.error;
            for (auto& pending : reading_)
                pending.wait();
            return merged;
        }
        if (f == 0)
            reading.rows.reserve(expectedRecords(files, parsed.records.size()));
        for (std::size_t k = 0; k < parsed.records.size(); ++k) {
            const std::size_t number = k + 1;
            auto where = [&] { return files[f] + ":" + std::to_string(number); };
            std::optional<ScanRecord>& record = parsed.records[k];
            if (!record)
                refuse(where(), parsed.ended[k] ? "damaged record" : "truncated record");
            else if (record->version != settings.version)
                refuse(where(), record->key + ": made by version " + record->version + ", not " + settings.version);
            else if (record->settings != hash)
                refuse(where(), record->key + ": measured with other settings (" + record->settings + ")");
            else {
                if (settings.root.empty())
                    noteRoot(reading, record->root, files[f], number);
                if (refusedCount == 0)
                    take(reading, std::move(*record), settings, {f, number});
            }
        }
    }
    if (refusedCount > kRefusalsShown)
        merged.refused.push_back("and " + std::to_string(refusedCount - kRefusalsShown) + " more records");
    if (refusedCount > 0)
        return merged;
    if (reading.roots.size() > 1) {
        for (const auto& [root, where] : reading.roots)
            merged.roots.push_back(where + ": records of the root " + root);
        return merged;
    }

    Plan plan;
    plan.settings = settings;
    if (plan.settings.root.empty())
        plan.settings.root = reading.roots.empty() ? file_identity::absoluteText(".") : reading.roots.front().first;
    // Rows in the order of their keys, as one job over the sorted list would have them.
    std::unordered_set<std::uint64_t> kept;
    plan.rows = keptInKeyOrder(reading, kept);
    const std::string& root = plan.settings.root;
    for (Row& row : plan.rows)
        row.source = root == "/" ? "/" + row.key : root + "/" + row.key;
    plan.settings.plan.lossyOutput = lossyOutput(plan);

    if (!kept.empty()) {
        merged.error = sumAgain(reading, kept, files, settings.groupByFolder);
        if (!merged.error.empty())
            return merged;
    }

    // One plan per group, by the job's own rules. The plan sums the blocks of its measured files:
    // the group's sum goes to its first measured file, the others bring none.
    std::unordered_map<std::string, std::vector<std::size_t>> groups;
    std::vector<std::size_t>* lastMembers = nullptr;
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        const std::string_view group = set_groups::groupOf(plan.rows[i].key, settings.groupByFolder);
        if (i == 0 || group != set_groups::groupOf(plan.rows[i - 1].key, settings.groupByFolder))
            lastMembers = &groups[std::string(group)];
        lastMembers->push_back(i);
    }
    std::vector<const std::string*> names;
    for (const auto& [group, members] : groups)
        names.push_back(&group);
    std::sort(names.begin(), names.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
    for (const std::string* name : names) {
        const std::string& group = *name;
        const std::vector<std::size_t>& members = groups.at(group);
        std::vector<loudness_plan::File> planFiles;
        planFiles.reserve(members.size());
        bool handed = false;
        for (std::size_t i : members) {
            loudness_plan::File file{plan.rows[i].before, plan.rows[i].headroom, std::nullopt};
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
        for (const Set& set : made.sets)
            plan.sets.push_back({group, set.loudnessLufs});
    }
    nameOutputs(plan);
    merged.plan = std::move(plan);
    return merged;
}

namespace {

std::string headLine(const Settings& s)
{
    return flat_json::Writer()
            .text("kind", "plan")
            .text("version", s.version)
            .text("mode", modeName(s.plan.mode))
            .integer("percent", s.plan.percent)
            .number("gain_db", s.plan.gainDb)
            .text("gain", s.gainText)
            .number("target_lufs", s.plan.targetLufs)
            .number("ceiling_dbtp", s.plan.ceilingDbtp)
            .boolean("limiter", s.plan.limiter)
            .boolean("lossy_output", s.plan.lossyOutput)
            .boolean("format_converting", s.formatConverting)
            .text("format", s.format)
            .text("prefix", s.prefix)
            .text("output", s.outputFolder)
            .text("root", s.root)
            .boolean("group_by_folder", s.groupByFolder)
            .line();
}

std::string rowLine(const Settings& s, const Row& row)
{
    const loudness_plan::Row& p = row.plan;
    flat_json::Writer w;
    w.text("kind", "row")
        .text("key", row.key)
        .text("source", row.source)
        .integer("size", row.size)
        .integer("mtime_ns", row.mtimeNs)
        .text("output", row.output)
        .text("group", set_groups::groupOf(row.key, s.groupByFolder))
        .text("error", row.error)
        .boolean("measured", row.before.has_value());
    if (const std::optional<Measurement>& m = row.before)
        w.number("loudness_lufs", m->integratedLufs)
            .number("range_lu", m->rangeLu)
            .number("true_peak_dbtp", m->truePeakDbtp)
            .number("sample_peak_dbfs", m->samplePeakDbfs)
            .number("duration_s", m->seconds);
    w.boolean("planned", p.planned).boolean("changes", p.changes).number("gain_db", p.gainDb);
    if (p.loudnessAfterLufs)
        w.number("expected_lufs", *p.loudnessAfterLufs);
    if (p.truePeakAfterDbtp)
        w.number("true_peak_after_dbtp", *p.truePeakAfterDbtp);
    w.boolean("peak_limited", p.peakLimited)
        .boolean("limited", p.limited)
        .number("limited_by_db", p.limitedByDb)
        .text("note", p.note);
    return w.line();
}

}  // namespace

std::string write(const Plan& plan, const std::string& path)
{
    // Streamed: a plan of a million rows is not held twice. Lines are gathered into large
    // writes; the file holds the plan only once committed.
    QSaveFile file(QString::fromStdString(path));
    bool written = file.open(QIODevice::WriteOnly);
    std::string pending = headLine(plan.settings);
    pending.reserve(kWriteBlock + 4096);
    auto flush = [&] {
        written = written && file.write(pending.data(), static_cast<qint64>(pending.size())) >= 0;
        pending.clear();
    };
    for (const Row& row : plan.rows) {
        pending += rowLine(plan.settings, row);
        if (pending.size() >= kWriteBlock)
            flush();
    }
    for (const Set& set : plan.sets)
        pending += flat_json::Writer().text("kind", "set").text("group", set.group).number("loudness_lufs", set.loudnessLufs).line();
    flush();
    if (!written || !file.commit())
        return "Cannot write " + path + ": " + file.errorString().toStdString();
    return {};
}

std::optional<Plan> read(const std::string& path, std::string& error)
{
    using namespace flat_json;
    Plan plan;
    bool headed = false;
    std::size_t number = 0;
    error = record_files::forEachLine(path, [&](std::string_view line, bool ended) {
        const std::string where = path + ":" + std::to_string(++number);
        const std::optional<std::vector<Field>> f = ended ? parse(line) : std::nullopt;
        const std::string kind = f ? text(*f, "kind").value_or("") : "";
        const std::optional<VolumeMode> mode = f ? modeNamed(text(*f, "mode").value_or("")) : std::nullopt;
        if (!f || (kind == "plan") == headed || (kind == "plan" && !mode) || (kind != "plan" && kind != "row" && kind != "set")) {
            error = where + ": not a line of a plan";
            return false;
        }
        const std::vector<Field>& o = *f;
        if (kind == "plan") {
            Settings& s = plan.settings;
            s.version = text(o, "version").value_or("");
            s.plan = {*mode,
                      static_cast<int>(integer(o, "percent").value_or(100)),
                      flat_json::number(o, "gain_db").value_or(0),
                      flat_json::number(o, "target_lufs").value_or(-14),
                      flat_json::number(o, "ceiling_dbtp").value_or(-1),
                      boolean(o, "limiter").value_or(true),
                      boolean(o, "lossy_output").value_or(false)};
            s.gainText = text(o, "gain").value_or("0.00");
            s.formatConverting = boolean(o, "format_converting").value_or(false);
            s.format = text(o, "format").value_or("*.WAV");
            s.prefix = text(o, "prefix").value_or("");
            s.outputFolder = text(o, "output").value_or("");
            s.root = text(o, "root").value_or("");
            s.groupByFolder = boolean(o, "group_by_folder").value_or(false);
            headed = true;
        } else if (kind == "set") {
            plan.sets.push_back({text(o, "group").value_or(""), flat_json::number(o, "loudness_lufs").value_or(-HUGE_VAL)});
        } else {
            Row row;
            row.key = text(o, "key").value_or("");
            row.source = text(o, "source").value_or("");
            row.size = integer(o, "size").value_or(-1);
            row.mtimeNs = integer(o, "mtime_ns").value_or(0);
            row.output = text(o, "output").value_or("");
            row.error = text(o, "error").value_or("");
            if (boolean(o, "measured").value_or(false))
                row.before = Measurement{flat_json::number(o, "loudness_lufs").value_or(-HUGE_VAL),
                                         flat_json::number(o, "range_lu").value_or(0),
                                         flat_json::number(o, "true_peak_dbtp").value_or(-HUGE_VAL),
                                         flat_json::number(o, "sample_peak_dbfs").value_or(-HUGE_VAL),
                                         flat_json::number(o, "duration_s").value_or(0),
                                         {}};
            loudness_plan::Row& p = row.plan;
            p.planned = boolean(o, "planned").value_or(false);
            p.changes = boolean(o, "changes").value_or(false);
            p.gainDb = flat_json::number(o, "gain_db").value_or(-HUGE_VAL);  // null: 0 %
            p.loudnessAfterLufs = flat_json::number(o, "expected_lufs");
            p.truePeakAfterDbtp = flat_json::number(o, "true_peak_after_dbtp");
            p.peakLimited = boolean(o, "peak_limited").value_or(false);
            p.limited = boolean(o, "limited").value_or(false);
            p.limitedByDb = flat_json::number(o, "limited_by_db").value_or(0);
            p.note = text(o, "note").value_or("");
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
    return flat_json::Writer()
        .integer("row", static_cast<long long>(applied.row))
        .text("status", applied.written ? "written" : "failed")
        .text("reason", applied.reason)
        .line();
}

std::vector<std::optional<Applied>> readApplied(const std::string& planPath, std::size_t rows)
{
    std::vector<std::optional<Applied>> applied(rows);
    const QFileInfo plan(QString::fromStdString(planPath));
    const QStringList names =
        plan.dir().entryList({plan.fileName() + ".applied-*.jsonl"}, QDir::Files, QDir::Name);
    for (const QString& name : names)
        record_files::forEachLine(plan.dir().filePath(name).toStdString(), [&](std::string_view line, bool ended) {
            const std::optional<std::vector<flat_json::Field>> o = ended ? flat_json::parse(line) : std::nullopt;
            const long long row = o ? flat_json::integer(*o, "row").value_or(-1) : -1;
            if (row >= 0 && static_cast<std::size_t>(row) < rows)
                applied[static_cast<std::size_t>(row)] = Applied{static_cast<std::size_t>(row),
                                                                 flat_json::text(*o, "status") == "written",
                                                                 flat_json::text(*o, "reason").value_or("")};
            return true;
        });
    return applied;
}

LoudnessReport report(const Plan& plan, const std::vector<std::optional<Applied>>& applied)
{
    LoudnessReport report;
    report.settings = plan.settings.plan;
    report.sets = plan.sets;
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
