#pragma once

#include "cli/CliOptions.h"
#include "cli/CliProgress.h"
#include "job/Job.h"
#include "media/TFFEncoder.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class LoudnessCheck;
class StopSignals;

// One run of the command line, from its checked options to its exit status: the list
// gathered by the window's rules, one job over it, each row's end on standard output and
// progress and messages on standard error. Needs a QCoreApplication.
class CliRun {
public:
    // Exit statuses.
    static constexpr int kAllWritten = 0;
    static constexpr int kSomeNotWritten = 1;
    static constexpr int kUsage = 2;
    static constexpr int kStopped = 130;

    explicit CliRun(CliOptions options);
    ~CliRun();
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    int exec();

private:
    // The list by the window's rules; an exit status when the run ends there.
    std::optional<int> gatherList();
    bool readListFile(const std::string& file, std::vector<std::string>& names);
    void take(const std::string& name);
    void takeFile(const std::string& path);
    int runJob();
    int runPlan();
    // Runs the event loop until the check is over (a stop signal cancels it); false if stopped.
    bool waitFor(LoudnessCheck& check);
    // The report's file and the summary line, once the job and its check are over.
    void tellReport(const LoudnessCheck& check);
    JobSettings jobSettings() const;
    void rowEnded(int row, Job::RowEnd end, const JobError& error, const std::string& note);
    void printRow(std::string_view status, const std::string& source, const std::string& output);

    CliOptions options_;
    CliProgress::Style style_;
    std::unique_ptr<CliProgress> progress_;
    std::unique_ptr<StopSignals> stopSignals_;
    TFFEncoder libraries_;
    Job* job_ = nullptr;  // while the job runs
    std::vector<std::string> sources_;
    std::vector<bool> told_;
    int refused_ = 0;
    int notWritten_ = 0;
    int written_ = 0;
    bool stopped_ = false;
};
