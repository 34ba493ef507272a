#include "cli/ClusterCommands.h"

#include "analysis/MeasureWorker.h"
#include "analysis/StallLimit.h"
#include "base/ProgramFolders.h"
#include "conversion/ContainerTable.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputNames.h"
#include "conversion/ProbeFacts.h"
#include "job/Job.h"
#include "job/ListAdmission.h"
#include "job/StopSignals.h"
#include "media/TFFEncoder.h"
#include "records/RecordFiles.h"
#include "records/ScanRecord.h"
#include "records/SetPlan.h"
#include "report/ReportExport.h"
#include "tools/ToolContracts.h"

#include <QEventLoop>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <unordered_set>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cluster_commands {

namespace {

namespace fs = std::filesystem;

constexpr int kAllDone = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kStopped = 130;

// The options of the subcommands, read by one reader; those a subcommand does not know are
// handed to the job's own reader (merge) or refused.
struct Options {
    std::string command;
    std::string records;
    std::string plan;
    std::string root;
    std::string report;
    scan_record::Shard shard;
    std::vector<std::string> paths;
    std::vector<std::string> filesFrom;
    std::vector<std::string> jobArgs;  // for cli_arguments::parse
    bool nullSeparated = false;
    bool quiet = false;
    int jobs = 1;
};

void message(const Options& o, const std::string& text)
{
    if (!o.quiet || text.find(':') != std::string::npos)
        std::fprintf(stderr, "auralon-cli %s: %s\n", o.command.c_str(), text.c_str());
}

void printRow(const Options& o, const std::string& status, const std::string& source, const std::string& other)
{
    const char between = o.nullSeparated ? '\0' : '\t';
    std::string line = status + between + source + between + other + (o.nullSeparated ? '\0' : '\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::string absolute(const std::string& path)
{
    return file_identity::absoluteText(path.empty() ? std::string(".") : path);
}

std::string parse(const std::vector<std::string>& args, const cli_arguments::JobLimits& limits, Options& o)
{
    o.command = args.front();
    o.jobs = limits.byDefault;
    const std::map<std::string, std::string*> texts{
        {"records", &o.records}, {"plan", &o.plan}, {"root", &o.root}, {"report", &o.report}};
    const bool merging = o.command == "merge";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string name = arg.starts_with("--") ? arg.substr(2, equals == std::string::npos ? equals : equals - 2) : "";
        auto value = [&]() -> std::optional<std::string> {
            if (equals != std::string::npos)
                return arg.substr(equals + 1);
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (texts.count(name)) {
            const std::optional<std::string> v = value();
            if (!v || v->empty())
                return "option --" + name + " needs a value";
            *texts.at(name) = *v;
        } else if (name == "shard" && o.command != "merge") {
            const std::optional<std::string> v = value();
            const std::optional<scan_record::Shard> shard = v ? scan_record::parseShard(*v) : std::nullopt;
            if (!shard)
                return "invalid value '" + v.value_or("") + "' for --shard: I/N, with 1 <= I <= N";
            o.shard = *shard;
        } else if (name == "files-from" && o.command == "scan") {
            const std::optional<std::string> v = value();
            if (!v || v->empty())
                return "option --files-from needs a value";
            o.filesFrom.push_back(*v);
        } else if ((arg == "-0" || name == "null") && !merging) {
            o.nullSeparated = true;
        } else if (arg == "-q" || name == "quiet") {
            o.quiet = true;
        } else if ((arg == "-j" || name == "jobs" || (arg.starts_with("-j") && arg.size() > 2)) && !merging) {
            const std::optional<std::string> v = arg.starts_with("-j") && arg.size() > 2 ? arg.substr(2) : value();
            const int n = v ? std::atoi(v->c_str()) : 0;
            if (n < 1 || n > limits.most || std::to_string(n) != *v)
                return "invalid value '" + v.value_or("") + "' for --jobs: a whole number from 1 to "
                       + std::to_string(limits.most);
            o.jobs = n;
        } else if (merging) {
            o.jobArgs.push_back(arg);  // the job's reader takes it, and its value
        } else if (o.command == "scan" && !(arg.starts_with("-") && arg.size() > 1)) {
            o.paths.push_back(arg);
        } else {
            return (arg.starts_with("-") ? "unknown option " : "unexpected argument ") + arg + " for " + o.command;
        }
    }
    if (o.command == "scan" && o.records.empty())
        return "scan needs --records=DIR";
    if (o.command == "scan" && o.paths.empty() && o.filesFrom.empty())
        return "no file or folder given";
    if (o.command == "merge" && (o.records.empty() || o.plan.empty()))
        return "merge needs --records=DIR and --plan=FILE";
    if (o.command == "apply" && o.plan.empty())
        return "apply needs --plan=FILE";
    if (!o.report.empty() && o.command != "apply")
        return "--report is an option of apply";
    if (!o.report.empty() && !report_export::formatOf(o.report))
        return "invalid value '" + o.report + "' for --report: a .csv, .tsv, .json or .jsonl file";
    return {};
}

bool loadLibraries(TFFEncoder& libraries, const Options& o)
{
    if (libraries.LoadFFmpeg(program_folders::libraryFolderA(), probe_libraries)
        || libraries.LoadFFmpeg(program_folders::libraryFolderB(), probe_libraries))
        return true;
    message(o, "load DLL error!: " + libraries.LastError());
    return false;
}

// ---- scan ----------------------------------------------------------------------------------

bool readNames(const Options& o, std::vector<std::string>& names)
{
    for (const std::string& file : o.filesFrom) {
        const bool standardInput = file == "-";
        const int fd = standardInput ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::string bytes;
        char buffer[65536];
        ssize_t got = fd < 0 ? -1 : 0;
        while (fd >= 0 && ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)))
            if (got > 0)
                bytes.append(buffer, static_cast<std::size_t>(got));
        const int error = errno;
        if (fd >= 0 && !standardInput)
            ::close(fd);
        if (got < 0) {
            message(o, "cannot read " + (standardInput ? std::string("standard input") : file) + ": " + std::strerror(error));
            return false;
        }
        const char separator = o.nullSeparated ? '\0' : '\n';
        for (std::size_t start = 0, end; start < bytes.size(); start = end + 1) {
            end = std::min(bytes.find(separator, start), bytes.size());
            if (end > start)
                names.push_back(bytes.substr(start, end - start));
        }
    }
    return true;
}

// Files of the paths (a folder gives its media files, as the job's list takes them). A relative
// name is a key: it lies under the root, so that every node reads the same list alike.
std::vector<std::string> filesOf(const std::vector<std::string>& names, const std::string& root)
{
    std::vector<std::string> files;
    for (const std::string& name : names) {
        const std::string path = absolute(name.starts_with('/') ? name : root + "/" + name);
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            for (const std::string& file : list_admission::folderFiles(path))
                files.push_back(file);
        } else {
            files.push_back(path);
        }
    }
    return files;
}

std::string keyOf(const std::string& path, const std::string& root)
{
    const std::string base = root == "/" ? root : root + "/";
    return path.starts_with(base) ? path.substr(base.size()) : std::string();
}

std::int64_t mtimeNsOf(const struct stat& facts)
{
    return static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
}

std::string identity(const std::string& key, std::int64_t size, std::int64_t mtimeNs)
{
    return key + '\0' + std::to_string(size) + '\0' + std::to_string(mtimeNs);
}

// One file of the scan, from its probe to its record.
struct ScanItem {
    std::string path;
    ScanRecord record;
    std::int64_t durationUs = -1;  // for its measuring's stall limit
};

class Scan {
public:
    Scan(const Options& o, std::string version) : o_(o), version_(std::move(version)) {}

    int exec()
    {
        StopSignals stop;
        TFFEncoder libraries;
        if (!loadLibraries(libraries, o_))
            return kSomeFailed;
        std::error_code ec;
        fs::create_directories(o_.records, ec);
        std::string error;
        const std::vector<std::string> recordFiles = record_files::listed(o_.records, error);
        if (!error.empty())
            return message(o_, error), kUsage;
        ownFile_ = record_files::shardFile(o_.records, o_.shard.index, o_.shard.count);
        if (const std::string cut = record_files::cutUnfinishedLine(ownFile_); !cut.empty())
            return message(o_, cut), kSomeFailed;
        std::unordered_set<std::string> current;
        const std::string hash = scan_record::settingsHash();
        const std::string root = absolute(o_.root);
        // A record of another root is another file's, whatever its key; one that names no
        // root was made before records kept it.
        for (const std::string& file : recordFiles)
            record_files::forEachLine(file, [&](std::string_view line, bool ended) {
                const std::optional<ScanRecord> r = ended ? scan_record::parse(line) : std::nullopt;
                if (r && r->status == ScanRecord::Status::Measured && r->version == version_ && r->settings == hash
                    && (r->root.empty() || r->root == root))
                    current.insert(identity(r->key, r->size, r->mtimeNs));
                return true;
            });

        std::vector<std::string> names = o_.paths;
        if (!readNames(o_, names))
            return kUsage;
        for (const std::string& path : filesOf(names, root)) {
            if (StopSignals::received())
                return kStopped;
            ScanItem item{path, {}};
            ScanRecord& r = item.record;
            r.key = keyOf(path, root);
            r.root = root;
            if (r.key.empty()) {
                message(o_, path + " lies outside the root " + root + ": not scanned");
                ++failed_;
                continue;
            }
            if (scan_record::shardOf(r.key, o_.shard.count) != o_.shard.index)
                continue;
            struct stat facts {};
            if (::stat(path.c_str(), &facts) == 0) {
                r.size = facts.st_size;
                r.mtimeNs = mtimeNsOf(facts);
            }
            r.version = version_;
            r.settings = hash;
            if (current.count(identity(r.key, r.size, r.mtimeNs))) {
                printRow(o_, "current", path, ownFile_);
                continue;
            }
            prepare(libraries.Decoder(), item);
        }
        QEventLoop loop;
        loop_ = &loop;
        QObject::connect(&stop, &StopSignals::arrived, &loop, [this] {
            stopped_ = true;
            for (auto& worker : workers_)
                worker->cancel();
            running_.clear();
            loop_->quit();
        });
        startMore();
        if (!running_.empty())
            loop.exec();
        loop_ = nullptr;
        workers_.clear();
        if (stopped_)
            return kStopped;
        return failed_ > 0 ? kSomeFailed : kAllDone;
    }

private:
    // Probes the file; one that cannot be measured is recorded at once.
    void prepare(TFFDecoder& probe, ScanItem& item)
    {
        std::string why;
        std::optional<tool_contracts::MeasureInput> input;
        const list_admission::Admission admission = list_admission::admit(probe, item.path);
        if (!admission.admitted) {
            why = admission.refusal.empty() ? std::string(list_admission::kLoadError) + item.path : admission.refusal;
        } else if (probe.LoadFile(item.path)) {
            const ProbeFacts facts = probeFactsOf(probe);
            item.record.headroom = loudness_plan::copyHeadroom(facts);
            item.durationUs = facts.durationUs;
            input = MeasureWorker::sourceInput(item.path, facts, why);
        } else {
            why = std::string(list_admission::kLoadError) + item.path;
        }
        if (!input) {
            item.record.reason = why;
            return finish(std::move(item));
        }
        queue_.push_back({std::move(item), *input});
    }

    void startMore()
    {
        while (!stopped_ && static_cast<int>(running_.size()) < o_.jobs && !queue_.empty()) {
            auto [item, input] = std::move(queue_.front());
            queue_.pop_front();
            MeasureWorker* worker = idleWorker();
            const int stallMs = stall_limit::limitMs(stallSeconds_, item.durationUs);
            running_.emplace(worker, std::move(item));
            worker->measure(input, stallMs);
        }
    }

    // Workers stay for the whole scan: measuring a file costs no start of a program.
    MeasureWorker* idleWorker()
    {
        for (const auto& worker : workers_)
            if (!running_.count(worker.get()))
                return worker.get();
        MeasureWorker* worker = workers_.emplace_back(std::make_unique<MeasureWorker>(program_folders::meterPath())).get();
        QObject::connect(worker, &MeasureWorker::finished, worker, [this, worker](const MeasureResult& result) {
            const auto found = running_.find(worker);
            if (found == running_.end())
                return;
            ScanItem item = std::move(found->second);
            running_.erase(found);
            item.record.measurement = result.measurement;
            item.record.reason = result.reason;
            finish(std::move(item));
            startMore();
            if (running_.empty() && loop_)
                loop_->quit();
        });
        return worker;
    }

    void finish(ScanItem&& item)
    {
        ScanRecord& r = item.record;
        r.status = r.measurement ? ScanRecord::Status::Measured : ScanRecord::Status::Failed;
        if (const std::string error = record_files::append(ownFile_, scan_record::line(r)); !error.empty()) {
            message(o_, error);
            ++failed_;
            return;
        }
        if (!r.measurement) {
            message(o_, "Cannot measure " + item.path + ": " + r.reason);
            ++failed_;
        }
        printRow(o_, r.measurement ? "measured" : "failed", item.path, ownFile_);
    }

    const Options& o_;
    std::string version_;
    std::string ownFile_;
    std::deque<std::pair<ScanItem, tool_contracts::MeasureInput>> queue_;
    const double stallSeconds_ = stall_limit::baseSeconds(std::getenv(stall_limit::kEnvironmentName));
    std::vector<std::unique_ptr<MeasureWorker>> workers_;
    std::map<MeasureWorker*, ScanItem> running_;
    QEventLoop* loop_ = nullptr;
    int failed_ = 0;
    bool stopped_ = false;
};

// ---- merge ---------------------------------------------------------------------------------

int merge(const Options& o, const cli_arguments::JobLimits& limits, const std::string& version)
{
    // The job's own reader checks the mode and settings; it wants an output folder and a path,
    // and the merge has no path of its own.
    std::vector<std::string> jobArgs = o.jobArgs;
    jobArgs.insert(jobArgs.end(), {"--", "."});
    const cli_arguments::ParseResult parsed = cli_arguments::parse(jobArgs, limits);
    if (!parsed.error.empty() || parsed.options.paths.size() != 1)
        return message(o, parsed.error.empty() ? "merge takes no file or folder: the records name them" : parsed.error),
               kUsage;
    const CliOptions& job = parsed.options;
    // A plan over many machines decides gains for adjusted audio only.
    if (job.tagsOnly)
        return message(o, "merge does not take --tags-only"), kUsage;
    set_plan::Settings settings;
    settings.plan.mode = job.mode;
    settings.plan.percent = job.percent;
    settings.plan.gainDb = std::atof(job.gain.c_str());
    settings.plan.targetLufs = job.targetLufs;
    settings.plan.ceilingDbtp = job.ceilingDbtp;
    settings.plan.limiter = job.limiter;
    settings.gainText = job.gain;
    settings.formatConverting = !job.format.empty();
    settings.format = job.format.empty() ? "*.WAV" : job.format;
    settings.prefix = job.prefix;
    settings.outputFolder = absolute(job.outputFolder);
    settings.root = o.root.empty() ? std::string() : absolute(o.root);  // else the records'
    settings.groupByFolder = job.groupByFolder;
    settings.version = version;
    const set_plan::Merged merged = set_plan::merge(o.records, settings);
    if (!merged.error.empty())
        return message(o, merged.error + ": nothing written"), kSomeFailed;
    if (!merged.roots.empty()) {
        for (const std::string& root : merged.roots)
            message(o, root);
        message(o, "records of " + std::to_string(merged.roots.size())
                       + " roots: give --root=DIR to take their keys as relative to one; no plan written");
        return kUsage;
    }
    if (!merged.plan) {
        for (const std::string& refusal : merged.refused)
            message(o, "refused " + refusal);
        message(o, "records refused: no plan written");
        return kSomeFailed;
    }
    if (const std::string error = set_plan::write(*merged.plan, o.plan); !error.empty())
        return message(o, error), kSomeFailed;
    for (const set_plan::Row& row : merged.plan->rows)
        printRow(o, row.error.empty() ? "planned" : "failed", row.source, row.output);
    return kAllDone;
}

// ---- apply ---------------------------------------------------------------------------------

std::string timeText(std::int64_t ns)
{
    constexpr std::int64_t kSecond = 1000000000;
    const std::int64_t seconds = ns / kSecond - (ns % kSecond < 0 ? 1 : 0);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    char text[80] = "";
    std::size_t n = gmtime_r(&t, &utc) ? std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc) : 0;
    std::snprintf(text + n, sizeof text - n, ".%09lld UTC", static_cast<long long>(ns - seconds * kSecond));
    return text;
}

// Why a row's source is no longer the file its scan measured, "" when it still is: its gain was
// planned from that measurement.
std::string changeSinceScan(const set_plan::Row& row)
{
    struct stat facts {};
    if (::stat(row.source.c_str(), &facts) != 0) {
        const int error = errno;
        return error == ENOENT ? "it was deleted after its scan" : "Cannot read " + row.source + ": " + std::strerror(error);
    }
    if (row.size < 0)
        return {};
    std::string changes;
    if (facts.st_size != row.size)
        changes = "size " + std::to_string(row.size) + " bytes, now " + std::to_string(facts.st_size);
    if (const std::int64_t mtime = mtimeNsOf(facts); mtime != row.mtimeNs)
        changes += (changes.empty() ? "" : "; ") + std::string("modified ") + timeText(row.mtimeNs) + ", now " + timeText(mtime);
    return changes.empty() ? changes : "it has changed since its scan (" + changes + ")";
}

class Apply {
public:
    Apply(const Options& o, set_plan::Plan plan) : o_(o), plan_(std::move(plan)) {}

    int exec()
    {
        stop_ = std::make_unique<StopSignals>();
        if (const std::string& folder = plan_.settings.outputFolder; !fs::is_directory(folder))
            return message(o_, "cannot write into " + folder + ": " + std::strerror(ENOTDIR)), kUsage;
        TFFEncoder libraries;
        if (!loadLibraries(libraries, o_))
            return kSomeFailed;
        appliedFile_ = set_plan::appliedFile(o_.plan, o_.shard.index, o_.shard.count);
        if (const std::string cut = record_files::cutUnfinishedLine(appliedFile_); !cut.empty())
            return message(o_, cut), kSomeFailed;
        const std::vector<std::optional<set_plan::Applied>> applied = set_plan::readApplied(o_.plan, plan_.rows.size());
        staging_ = plan_.settings.outputFolder + "/.auralon-apply-" + std::to_string(o_.shard.index + 1) + "-of-"
                   + std::to_string(o_.shard.count);
        std::map<std::pair<conversion_command::VolumeMode, std::pair<double, double>>, std::vector<std::size_t>> jobs;
        for (std::size_t i = 0; i < plan_.rows.size(); ++i) {
            const set_plan::Row& row = plan_.rows[i];
            if (scan_record::shardOf(row.key, o_.shard.count) != o_.shard.index)
                continue;
            if (applied[i] && applied[i]->written)
                continue;
            if (!row.error.empty() || row.output.empty()) {
                end(i, false, row.error.empty() ? std::string("no output planned") : row.error);
                continue;
            }
            if (recovered(i))
                continue;
            if (!file_identity::lookUp(row.output).missing()) {
                end(i, false, "Cannot write " + row.output + ": " + std::strerror(EEXIST));
                continue;
            }
            std::optional<std::pair<double, double>> levels = rowLevels(row);
            if (!levels) {
                end(i, false, "its planned level lies outside what the normaliser takes");
                continue;
            }
            jobs[{jobMode(), *levels}].push_back(i);
        }
        clearStaging();
        clearDeadScratch();
        std::error_code ec;
        fs::create_directory(staging_, ec);
        for (auto& [what, rows] : jobs)
            queue_.push_back({what.first, what.second.first, what.second.second, std::move(rows)});
        // The set's modes make a job per row: several run at once, each with its own hidden
        // folder and scratch folder; the others are one job of several files at once.
        slots_.resize(album() ? static_cast<std::size_t>(o_.jobs) : 1);
        probe_ = &libraries.Decoder();
        QEventLoop loop;
        loop_ = &loop;
        startMore();
        if (running_ > 0)
            loop.exec();
        loop_ = nullptr;
        for (Slot& slot : slots_)
            slot.job.reset();
        clearStaging();
        fs::remove_all(staging_, ec);
        for (std::size_t k = 0; k < slots_.size(); ++k)
            fs::remove_all(scratchOf(k), ec);
        if (!o_.report.empty()) {
            const LoudnessReport report = set_plan::report(plan_, set_plan::readApplied(o_.plan, plan_.rows.size()));
            if (const std::string error = report_export::write(report, o_.report); !error.empty())
                return message(o_, error), kSomeFailed;
        }
        if (stopped_ || StopSignals::received())
            return kStopped;
        return failed_ > 0 ? kSomeFailed : kAllDone;
    }

private:
    bool album() const
    {
        const conversion_command::VolumeMode m = plan_.settings.plan.mode;
        return conversion_command::isRmsMode(m) && m != conversion_command::VolumeMode::RmsSingularly;
    }

    // The set's modes are applied file by file: each row brought, on its own, to the level the
    // plan promised it (its loudness plus its planned gain), which the normaliser's rules give the
    // same gain and the same limiting as they give it within the set.
    conversion_command::VolumeMode jobMode() const
    {
        return album() ? conversion_command::VolumeMode::RmsSingularly : plan_.settings.plan.mode;
    }

    // The target from which the normaliser, taking its gain as target minus loudness, takes this
    // very gain: the sum rounded may be a step off, and a gain a step off gives other samples.
    static double targetGiving(double loudnessLufs, double gainDb)
    {
        const double sum = loudnessLufs + gainDb;
        for (const double target : {sum, std::nextafter(sum, -HUGE_VAL), std::nextafter(sum, HUGE_VAL)})
            if (target - loudnessLufs == gainDb)
                return target;
        return sum;
    }

    // The target and ceiling of a row's job; nothing when its target is out of the normaliser's range.
    std::optional<std::pair<double, double>> rowLevels(const set_plan::Row& row) const
    {
        const loudness_plan::Settings& s = plan_.settings.plan;
        // The set's ceiling holds every row: a row whose own output is not lossy gets the margin
        // the set's lossy outputs give all.
        const bool rowLossy = container_table::isLossyExtension(
            output_names::outputExtension(row.source, plan_.settings.formatConverting, plan_.settings.format));
        const double ceiling = s.ceilingDbtp - (s.lossyOutput && !rowLossy ? tool_contracts::kLossyMarginDb : 0.0);
        if (!album())
            return std::pair{s.targetLufs, ceiling};
        const bool measured = row.before && std::isfinite(row.before->integratedLufs) && row.plan.planned;
        const double target = measured ? targetGiving(row.before->integratedLufs, row.plan.changes ? row.plan.gainDb : 0.0)
                                       : s.targetLufs;
        if (!(target >= -70 && target <= 0))
            return std::nullopt;
        return std::pair{target, ceiling};
    }

    // A row written by a run that was stopped before it could record it: its output is the
    // staged file still linked there.
    bool recovered(std::size_t i)
    {
        const file_identity::Lookup output = file_identity::lookUp(plan_.rows[i].output);
        std::error_code ec;
        if (!output.id || !fs::is_directory(staging_, ec))
            return false;
        for (const auto& entry : fs::recursive_directory_iterator(staging_, ec))
            if (file_identity::lookUp(entry.path().native()).id == output.id) {
                end(i, true, {});
                return true;
            }
        return false;
    }

    // The scratch folders that applying runs killed on this machine left: their process is gone.
    static void clearDeadScratch()
    {
        const std::string scratch = program_folders::scratchFolder();
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(scratch.empty() ? "/nonexistent" : scratch, ec)) {
            const std::string name = entry.path().filename().native();
            const long pid = name.starts_with("apply-") ? std::atol(name.c_str() + 6) : 0;
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                fs::remove_all(entry.path(), ec);
        }
    }

    // Only this shard's hidden folder, of files its own runs made.
    void clearStaging()
    {
        std::error_code ec;
        if (fs::is_directory(staging_, ec))
            for (const auto& entry : fs::directory_iterator(staging_, ec))
                fs::remove_all(entry.path(), ec);
    }

    void end(std::size_t i, bool written, const std::string& reason)
    {
        const set_plan::Row& row = plan_.rows[i];
        if (const std::string error = record_files::append(appliedFile_, set_plan::appliedLine({i, written, reason}));
            !error.empty()) {
            message(o_, error);
            ++failed_;
        }
        if (!written) {
            ++failed_;
            message(o_, row.source + ": " + reason);
        }
        printRow(o_, written ? "written" : "failed", row.source, written ? row.output : std::string());
    }

    struct Work {
        conversion_command::VolumeMode mode;
        double target;
        double ceiling;
        std::vector<std::size_t> rows;
    };
    struct Slot {
        std::unique_ptr<Job> job;  // the last one started, kept until the next
        bool busy = false;         // while it runs
        Work work;
        std::vector<bool> told;
    };

    std::string stagingOf(std::size_t slot) const { return staging_ + "/" + std::to_string(slot + 1); }
    std::string scratchOf(std::size_t slot) const
    {
        const std::string scratch = program_folders::scratchFolder();
        return scratch.empty() ? scratch
                               : scratch + "apply-" + std::to_string(::getpid()) + "-" + std::to_string(slot + 1) + "/";
    }

    // Called only where no job's code is below it (at the start, and queued from a job's end):
    // a job may end inside its own start(), and starting the next from there would nest a start
    // per failing row.
    void startMore()
    {
        for (std::size_t k = 0; k < slots_.size(); ++k)
            while (!slots_[k].busy && !queue_.empty() && !stopped_) {
                Work work = std::move(queue_.front());
                queue_.pop_front();
                start(k, std::move(work));
            }
        if (running_ == 0 && loop_)
            loop_->quit();
    }

    void start(std::size_t k, Work work)
    {
        std::erase_if(work.rows, [this](std::size_t i) {
            const std::string change = changeSinceScan(plan_.rows[i]);
            if (!change.empty())
                end(i, false, change);
            return !change.empty();
        });
        if (work.rows.empty())
            return;
        JobSettings settings;
        for (std::size_t i : work.rows)
            settings.sources.push_back(plan_.rows[i].source);
        const set_plan::Settings& s = plan_.settings;
        settings.mode = work.mode;
        settings.percent = s.plan.percent;
        settings.gain = s.gainText;
        settings.formatConverting = s.formatConverting;
        settings.format = s.format;
        settings.outputFolder = stagingOf(k);
        settings.targetLufs = work.target;
        settings.ceilingDbtp = work.ceiling;
        settings.limiter = s.plan.limiter;
        settings.filesAtOnce = slots_.size() > 1 ? 1 : o_.jobs;
        settings.converter = program_folders::converterPath();
        settings.normaliser = program_folders::normalizerPath();
        settings.meter = program_folders::meterPath();
        settings.stallSeconds = stall_limit::baseSeconds(std::getenv(stall_limit::kEnvironmentName));
        settings.scratchFolder = scratchOf(k);
        settings.clearScratchAtEveryEnd = true;
        std::error_code ec;
        fs::create_directory(settings.outputFolder, ec);
        if (!settings.scratchFolder.empty())
            fs::create_directory(settings.scratchFolder, ec);

        Slot& slot = slots_[k];
        slot.work = std::move(work);
        slot.told.assign(slot.work.rows.size(), false);
        // The slot's last job is over and none of its code is at work: it goes only now.
        slot.job = std::make_unique<Job>(settings, *probe_);
        Job* job = slot.job.get();
        slot.busy = true;
        ++running_;
        QObject::connect(job, &Job::rowEnded, job, [this, k, job](int row, Job::RowEnd how, const JobError& error, const std::string&) {
            Slot& slot = slots_[k];
            slot.told[static_cast<std::size_t>(row)] = true;
            const std::size_t i = slot.work.rows[static_cast<std::size_t>(row)];
            if (how != Job::RowEnd::Written)
                return end(i, false, error.message.empty() ? std::string("not written") : error.message);
            place(i, job->rowOutput(row));
        });
        QObject::connect(job, &Job::finished, job, [this, k, job](Job::Outcome, const JobError& error) {
            if (!error.message.empty())
                message(o_, error.message);
            Slot& slot = slots_[k];
            for (std::size_t r = 0; r < slot.told.size(); ++r)
                if (!slot.told[r] && !stopped_)
                    end(slot.work.rows[r], false, "not written: the job ended before it");
            slot.busy = false;
            --running_;
            if (loop_)
                QMetaObject::invokeMethod(loop_, [this] { startMore(); }, Qt::QueuedConnection);
        });
        QObject::connect(stop_.get(), &StopSignals::arrived, job, [this, job] {
            stopped_ = true;
            job->cancel();
        });
        job->start();
    }

    // Moves a staged output to its planned name, never over a file there: linked first, so
    // that it is whole under its name or not there at all, and recorded before the stage is cleared.
    void place(std::size_t i, const std::string& staged)
    {
        const std::string& output = plan_.rows[i].output;
        if (::link(staged.c_str(), output.c_str()) != 0) {
            const int error = errno;
            std::remove(staged.c_str());
            return end(i, false, "Cannot write " + output + ": " + std::strerror(error));
        }
        end(i, true, {});
        std::remove(staged.c_str());
    }

    const Options& o_;
    set_plan::Plan plan_;
    std::unique_ptr<StopSignals> stop_;
    std::string appliedFile_;
    std::string staging_;
    std::deque<Work> queue_;
    std::vector<Slot> slots_;
    TFFDecoder* probe_ = nullptr;
    QEventLoop* loop_ = nullptr;
    int running_ = 0;
    int failed_ = 0;
    bool stopped_ = false;
};

}  // namespace

bool isSubcommand(const std::vector<std::string>& args)
{
    return !args.empty() && (args[0] == "scan" || args[0] == "merge" || args[0] == "apply");
}

int run(const std::vector<std::string>& args, const cli_arguments::JobLimits& limits, const std::string& version)
{
    Options o;
    if (const std::string error = parse(args, limits, o); !error.empty()) {
        std::fprintf(stderr, "auralon-cli: %s\nTry 'auralon-cli --help' for more information.\n", error.c_str());
        return kUsage;
    }
    if (o.command == "scan")
        return Scan(o, version).exec();
    if (o.command == "merge")
        return merge(o, limits, version);
    std::string error;
    std::optional<set_plan::Plan> plan = set_plan::read(o.plan, error);
    if (!plan)
        return message(o, error), kUsage;
    if (plan->settings.version != version)
        return message(o, o.plan + ": planned by version " + plan->settings.version + ", not " + version), kUsage;
    return Apply(o, std::move(*plan)).exec();
}

std::string helpText()
{
    return "\n"
           "A job over many machines, in three phases (any machine runs any shard I of N):\n"
           "  auralon-cli scan --records=DIR [--shard=I/N] [--root=DIR] [-j N] PATH...\n"
           "      measure the files of shard I into DIR (a record per file; files already\n"
           "      recorded unchanged are skipped); --files-from and -0 as above\n"
           "  auralon-cli merge --records=DIR --plan=FILE [--group-by=folder] [--root=DIR]\n"
           "      [mode, target, ceiling, format, prefix] -o DIR\n"
           "      plan every file's gain and output name once, from all records; records\n"
           "      of another version or other settings, or damaged, are named and refused\n"
           "  auralon-cli apply --plan=FILE [--shard=I/N] [-j N] [--report=FILE]\n"
           "      write shard I's outputs with their planned gains; a run again does what\n"
           "      is left; --report writes the plan and all results so far\n"
           "Keys are paths relative to --root (default: the current folder); scan takes\n"
           "relative names as relative to the root, so that every node reads one list alike,\n"
           "and records the root with each key; merge takes the records' root unless --root\n"
           "is given, and refuses records of different roots without it.\n";
}

}  // namespace cluster_commands
