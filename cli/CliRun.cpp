#include "cli/CliRun.h"

#include "analysis/StallLimit.h"
#include "base/ProgramFolders.h"
#include "cli/CliProgress.h"
#include "job/ListAdmission.h"
#include "job/LoudnessCheck.h"
#include "report/ReportExport.h"
#include "job/StopSignals.h"

#include <QEventLoop>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string absolute(const std::string& name)
{
    std::error_code ec;
    const std::filesystem::path whole = name.empty() ? std::filesystem::path() : std::filesystem::absolute(name, ec);
    return ec || name.empty() ? name : whole.native();
}

bool isFolder(const std::string& path)
{
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0 && S_ISDIR(entry.st_mode);
}

// Why the path is no folder to write into, or "".
std::string folderProblem(const std::string& path)
{
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0)
        return std::strerror(errno);
    return S_ISDIR(entry.st_mode) ? std::string() : std::strerror(ENOTDIR);
}

// Everything in the descriptor, or false with errno set.
bool readAll(int fd, std::string& bytes)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
        if (got > 0)
            bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string figure(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// The outputs' figures in one line: how many were written and kept their promise, how far
// apart their loudness lies, their highest true peak, how many were limited or left unchanged;
// only how many were written when they were not checked.
std::string summaryLine(const LoudnessReport& report, int written, bool checked)
{
    if (!checked)
        return std::to_string(written) + " written, not checked";
    int kept = 0, judged = 0, limited = 0, unchanged = 0;
    double quietest = HUGE_VAL, loudest = -HUGE_VAL, highestPeak = -HUGE_VAL;
    for (const LoudnessReport::Row& row : report.rows) {
        if (row.verdict) {
            ++judged;
            kept += row.verdict->pass ? 1 : 0;
        }
        if (!row.after)
            continue;
        limited += row.plan.limited || row.plan.peakLimited ? 1 : 0;
        unchanged += row.leftUnchanged ? 1 : 0;
        if (std::isfinite(row.after->integratedLufs)) {
            quietest = std::min(quietest, row.after->integratedLufs);
            loudest = std::max(loudest, row.after->integratedLufs);
        }
        highestPeak = std::max(highestPeak, row.after->truePeakDbtp);
    }
    std::string line = std::to_string(written) + " written, " + std::to_string(kept) + " of " + std::to_string(judged)
                       + " checked within their promise";
    if (loudest >= quietest)
        line += ", loudness " + figure(quietest) + " to " + figure(loudest) + " LUFS (spread "
                + figure(loudest - quietest) + " LU)";
    if (std::isfinite(highestPeak))
        line += ", highest true peak " + figure(highestPeak) + " dBTP";
    return line + ", " + std::to_string(limited) + " limited, " + std::to_string(unchanged) + " left unchanged";
}

}  // namespace

CliRun::CliRun(CliOptions options)
    : options_(std::move(options)),
      style_(options_.quiet                ? CliProgress::Style::None
             : ::isatty(STDERR_FILENO) ? CliProgress::Style::Bar
                                       : CliProgress::Style::Lines),
      progress_(std::make_unique<CliProgress>(style_, 0))
{
}

CliRun::~CliRun() = default;

int CliRun::exec()
{
    stopSignals_ = std::make_unique<StopSignals>();
    // The window's folder chooser gives an existing folder's path without a trailing "/".
    std::string& folder = options_.outputFolder;
    folder = absolute(folder);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string problem = options_.plan ? std::string() : folderProblem(folder);
    if (!problem.empty()) {
        progress_->message("cannot write into " + folder + ": " + problem);
        return kUsage;
    }
    // The folders of the window; the command line only probes, so it needs no more.
    if (!libraries_.LoadFFmpeg(program_folders::libraryFolderA(), probe_libraries)
        && !libraries_.LoadFFmpeg(program_folders::libraryFolderB(), probe_libraries)) {
        progress_->message("load DLL error!: " + libraries_.LastError());
        return kSomeNotWritten;
    }
    if (const std::optional<int> ended = gatherList())
        return *ended;
    return options_.plan ? runPlan() : runJob();
}

std::optional<int> CliRun::gatherList()
{
    std::vector<std::string> names = options_.paths;
    for (const std::string& file : options_.filesFrom)
        if (!readListFile(file, names))
            return kUsage;
    for (std::size_t next = 0; next < names.size() && !StopSignals::received(); ++next)
        take(names[next]);
    if (StopSignals::received()) {
        progress_->message("stopped before the job began: nothing was written");
        return kStopped;
    }
    if (!sources_.empty())
        return std::nullopt;
    if (refused_ > 0)
        return kSomeNotWritten;
    progress_->message("nothing to do: no audio or video file among the paths given");
    return kUsage;
}

bool CliRun::readListFile(const std::string& file, std::vector<std::string>& names)
{
    const bool standardInput = file == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::string bytes;
    const bool read = fd >= 0 && readAll(fd, bytes);
    const int error = errno;
    if (fd >= 0 && !standardInput)
        ::close(fd);
    if (!read) {
        const std::string name = standardInput ? std::string("standard input") : file;
        progress_->message("cannot read " + name + ": " + std::strerror(error));
        return false;
    }
    const char separator = options_.nullSeparated ? '\0' : '\n';
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find(separator, start);
        if (end == std::string::npos)
            end = bytes.size();
        if (end > start)
            names.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

void CliRun::take(const std::string& name)
{
    // As the window takes names from its own command line: relative to the current folder.
    const std::string path = absolute(name);
    if (!isFolder(path))
        return takeFile(path);
    for (const std::string& file : list_admission::folderFiles(path)) {
        if (StopSignals::received())
            return;
        takeFile(file);
    }
}

void CliRun::takeFile(const std::string& path)
{
    std::string refusal;
    if (!list_admission::isTextName(path)) {
        refusal = std::string(list_admission::kLoadError) + path;
    } else {
        const list_admission::Admission admission = list_admission::admit(libraries_.Decoder(), path);
        if (admission.admitted) {
            sources_.push_back(path);
            return;
        }
        refusal = admission.refusal.empty() ? std::string(list_admission::kLoadError) + path : admission.refusal;
    }
    ++refused_;
    progress_->message(refusal);
    printRow("refused", path, {});
}

JobSettings CliRun::jobSettings() const
{
    JobSettings settings;
    settings.sources = sources_;
    settings.mode = options_.mode;
    settings.percent = options_.percent;
    settings.gain = options_.gain;
    settings.formatConverting = !options_.format.empty();
    settings.format = options_.format.empty() ? "*.WAV" : options_.format;  // the format box's first entry
    settings.prefix = options_.prefix;
    settings.outputFolder = options_.outputFolder;
    settings.targetLufs = options_.targetLufs;
    settings.ceilingDbtp = options_.ceilingDbtp;
    settings.limiter = options_.limiter;
    settings.groupByFolder = options_.groupByFolder;
    settings.filesAtOnce = options_.jobs;
    settings.existing = options_.existing;
    if (options_.tagsOnly)
        settings.writing = JobSettings::Writing::TagsOnly;
    settings.converter = program_folders::converterPath();
    settings.normaliser = program_folders::normalizerPath();
    settings.meter = program_folders::meterPath();
    settings.stallSeconds = stall_limit::baseSeconds(std::getenv(stall_limit::kEnvironmentName));
    settings.scratchFolder = program_folders::scratchFolder();
    // Nothing of a stopped or failed run is left for a later one to clear.
    settings.clearScratchAtEveryEnd = true;
    return settings;
}

int CliRun::runJob()
{
    told_.assign(sources_.size(), false);
    progress_ = std::make_unique<CliProgress>(style_, static_cast<int>(sources_.size()));
    // Rows are left unchanged, or tagged, by a plan made before the job; otherwise the sources'
    // figures come with the job (its normaliser's, in the RMS modes) or are measured as the
    // rows end.
    LoudnessCheck check(jobSettings(), libraries_.Decoder());
    JobSettings settings = jobSettings();
    if (options_.skipWithinDb > 0 || options_.tagsOnly) {
        if (!waitFor(check))
            return kStopped;
        if (options_.skipWithinDb > 0)
            settings.leaveUnchanged = check.leaveUnchanged(options_.skipWithinDb);
        settings.loudnessTags = check.tagLevels();
        progress_ = std::make_unique<CliProgress>(style_, static_cast<int>(sources_.size()));
    }
    Job job(settings, libraries_.Decoder());
    job_ = &job;
    if (!options_.noCheck)
        check.follow(job);
    bool began = false;
    JobError jobError;
    QEventLoop loop;
    QObject::connect(&job, &Job::stageStarted, [&](Job::Stage stage) {
        began = true;
        progress_->stageStarted(stage);
    });
    QObject::connect(&job, &Job::rowProgress, [this](int, int percent) { progress_->stageProgress(percent); });
    QObject::connect(&job, &Job::rowEnded, [&](int row, Job::RowEnd end, const JobError& error, const std::string& note) {
        began = true;
        rowEnded(row, end, error, note);
    });
    QObject::connect(&job, &Job::rowMeasured, [this](int, const std::optional<PeakGain>&, const JobError& error) {
        if (!error.message.empty())
            progress_->message(error.message);
    });
    // The job ends after its check.
    QObject::connect(&job, &Job::finished, &loop, [&](Job::Outcome, const JobError& error) {
        jobError = error;
        loop.quit();
    });
    QObject::connect(&check, &LoudnessCheck::rowVerified, [this, &check](int row) {
        const LoudnessReport::Row& record = check.report().rows.at(static_cast<std::size_t>(row));
        if (const std::string redone = report_export::redoSummary(record, check.report().settings); !redone.empty())
            progress_->message(record.file + ": redone: " + redone);
        else if (record.verdict && !record.verdict->pass)
            progress_->message(record.file + ": missed its promise: " + record.verdict->reason
                               + (record.redoError.empty() ? "" : "; not written again: " + record.redoError));
        else if (record.leftUnchanged)
            progress_->message(record.file + ": left unchanged");
        else if (!record.tagsWritten.empty())
            progress_->message(record.file + ": tagged " + record.tagsWritten);
    });
    // The job stops as from a Cancel: runs killed, partial outputs removed, the scratch
    // folder cleared.
    QObject::connect(stopSignals_.get(), &StopSignals::arrived, &job, [&] {
        stopped_ = true;
        job.cancel();
        check.cancel();
    });

    job.start();
    if (!job.isOver())
        loop.exec();
    job_ = nullptr;

    progress_->end();
    if (!jobError.message.empty())
        progress_->message(jobError.message);
    if (stopped_)
        progress_->message("stopped: the runs were ended and their partial files removed");
    for (std::size_t row = 0; row < sources_.size(); ++row)
        if (!told_[row]) {
            ++notWritten_;
            printRow("skipped", sources_[row], {});
        }
    if (!stopped_)
        tellReport(check);
    if (stopped_)
        return kStopped;
    if (!began && jobError)
        return kUsage;  // refused before its first row: nothing was written
    return refused_ + notWritten_ > 0 ? kSomeNotWritten : kAllWritten;
}

bool CliRun::waitFor(LoudnessCheck& check)
{
    QEventLoop loop;
    QObject::connect(&check, &LoudnessCheck::finished, &loop, &QEventLoop::quit);
    QObject::connect(&check, &LoudnessCheck::progress, [this](int percent) { progress_->stageProgress(percent); });
    const QMetaObject::Connection stop = QObject::connect(stopSignals_.get(), &StopSignals::arrived, &check, [&] {
        stopped_ = true;
        check.cancel();
    });
    check.analyse();
    if (!check.isOver())
        loop.exec();
    QObject::disconnect(stop);
    progress_->end();
    if (stopped_)
        progress_->message("stopped: the measuring was ended and nothing was written");
    return !stopped_;
}

int CliRun::runPlan()
{
    progress_ = std::make_unique<CliProgress>(style_, static_cast<int>(sources_.size()));
    LoudnessCheck check(jobSettings(), libraries_.Decoder());
    if (!options_.outputFolder.empty())
        check.noteExisting();
    if (!waitFor(check))
        return kStopped;
    for (const LoudnessReport::Row& row : check.report().rows)
        if (!row.error.empty())
            progress_->message(row.error);
    const std::string table = report_export::text(check.report(), report_export::Format::Tsv);
    std::fwrite(table.data(), 1, table.size(), stdout);
    std::fflush(stdout);
    return kAllWritten;  // nothing was to be written
}

void CliRun::tellReport(const LoudnessCheck& check)
{
    if (!options_.reportFile.empty())
        if (const std::string problem = report_export::write(check.report(), options_.reportFile); !problem.empty()) {
            progress_->message(problem);
            ++notWritten_;
        }
    progress_->message(summaryLine(check.report(), written_, !options_.noCheck));
}

void CliRun::rowEnded(int row, Job::RowEnd end, const JobError& error, const std::string& note)
{
    told_.at(static_cast<std::size_t>(row)) = true;
    const std::string& source = sources_[static_cast<std::size_t>(row)];
    if (error.kind == JobError::Kind::Exists && end == Job::RowEnd::Refused)
        progress_->message(error.message + " (--existing=keep-both, replace or skip to go on)");
    else if (!error.message.empty())
        progress_->message(error.message);
    const char* status = end == Job::RowEnd::Written ? "written"
                         : end == Job::RowEnd::Failed ? "failed"
                         : end == Job::RowEnd::Skipped ? "skipped"
                                                       : "refused";
    if (end == Job::RowEnd::Written && !note.empty())
        progress_->message(source + ": " + note);
    // A row skipped as asked is no failure: a run again does only what is missing.
    if (end == Job::RowEnd::Written)
        ++written_;
    else if (end != Job::RowEnd::Skipped)
        ++notWritten_;
    // The output only of a written row: a failed one left none.
    printRow(status, source, end == Job::RowEnd::Written ? job_->rowOutput(row) : std::string());
    progress_->rowEnded(status, source);
}

void CliRun::printRow(std::string_view status, const std::string& source, const std::string& output)
{
    const char end = options_.nullSeparated ? '\0' : '\n';
    const char between = options_.nullSeparated ? '\0' : '\t';
    std::string line(status);
    line += between;
    line += source;
    line += between;
    line += output;
    line += end;
    progress_->aside([&line] {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    });
}
