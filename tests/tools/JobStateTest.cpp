#include "analysis/ProgressMath.h"
#include "analysis/RunLimit.h"
#include "analysis/StageRules.h"
#include "analysis/StallLimit.h"
#include "job/JobState.h"

#include <gtest/gtest.h>

namespace {

TEST(RunLimit, OnlyAWholeNumberInRangeSetsTheDefault)
{
    const std::pair<const char*, int> rows[] = {
        {nullptr, 4}, {"", 4}, {"1", 1}, {" 2 ", 2}, {"64", 64}, {"65", 4},
        {"0", 4}, {"-2", 4}, {"2x", 4}, {"two", 4}, {"99999999999", 4},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(run_limit::defaultLimit(text, 4), expected) << (text ? text : "unset");
    EXPECT_EQ(run_limit::defaultLimit(nullptr, 0), 1);
    EXPECT_GE(run_limit::usableCores(), 1);
}

TEST(StallLimit, APositiveNumberSetsTheBaseAndTheLimitGrowsWithTheFile)
{
    const std::pair<const char*, double> rows[] = {
        {nullptr, 60}, {"", 60}, {"1.5", 1.5}, {" 2 ", 2}, {"86400", 86400}, {"86401", 60},
        {"0", 60}, {"-2", 60}, {"2s", 60}, {"1e3", 60}, {"nan", 60}, {"inf", 60},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(stall_limit::baseSeconds(text), expected) << (text ? text : "unset");
    EXPECT_EQ(stall_limit::limitMs(60, 30000000), 75000);
    EXPECT_EQ(stall_limit::limitMs(1, -1), 1000) << "unknown length: the base alone";
    EXPECT_EQ(stall_limit::limitMs(0, 30000000), 0) << "no base: no watchdog";
    EXPECT_EQ(stall_limit::limitMs(86400, 1000000000000000), 864000000) << "within a timer's int";
}

TEST(StageRules, AnOutputEndsEarlyOnlyBeyondPaddingAndPriming)
{
    struct Row {
        std::int64_t source, written;
        bool early;
    };
    const Row rows[] = {
        {2000000, 2000000, false}, {2000000, 1730000, false},  // 0.25 s + 1 %: 270 ms
        {2000000, 1729000, true},  {600000000, 593750000, false}, {600000000, 593740000, true},
        {1656000, 1500000, false},  // an 8 kHz MP3 decoded: its delay and padding dropped
        {2000000, 2100000, false}, {-1, 0, false},             {2000000, -1, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(stage_rules::endsEarly(row.source, row.written), row.early) << row.source << " " << row.written;
}

TEST(RunLimit, FilesAtWorkSayHowManyAreDoneAndRunning)
{
    struct Row {
        int done, running, count;
        const char* expected;
    };
    const Row rows[] = {
        {2, 1, 12, "File 3 of 12"},        {2, 0, 12, "File 3 of 12"},
        {2, 2, 12, "Files 3\u20134 of 12"}, {11, 2, 12, "File 12 of 12"},
        {10, 4, 12, "Files 11\u201312 of 12"}, {12, 0, 12, "File 12 of 12"},
        {0, 2, 0, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(progress_math::filesAtWorkText(row.done, row.running, row.count), row.expected)
            << row.done << "+" << row.running << " of " << row.count;
}

TEST(JobState, RowsStartInOrderAndTheirEndsAreToldInOrderWhateverEndsFirst)
{
    JobState job;
    job.begin({"a", "b", "c", "d"});
    job.beginStage(2);
    EXPECT_EQ(job.takeNextRow(), 0);
    EXPECT_EQ(job.takeNextRow(), 1);
    EXPECT_EQ(job.takeNextRow(), std::nullopt) << "two at once";

    job.setFraction(0, 0.5);
    job.finishRow(1, RowState::Failed, {JobError::Kind::Tool, "b", "convert", "failed", "b failed"});
    EXPECT_EQ(job.takeReport(), std::nullopt) << "row 0 has not ended yet";
    EXPECT_DOUBLE_EQ(job.listFraction(), 1.5);
    EXPECT_EQ(job.takeNextRow(), 2);
    job.finishRow(0, RowState::Done);
    EXPECT_EQ(job.takeReport()->row, 0);
    const std::optional<JobState::Report> report = job.takeReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->row, 1);
    EXPECT_EQ(report->error.message, "b failed");
    EXPECT_EQ(job.takeReport(), std::nullopt) << "told once";

    // A row that ends the job lets no later row start; a later run is taken back.
    EXPECT_EQ(job.takeNextRow(), 3);
    job.finishRow(2, RowState::Failed, {}, true, true);
    job.withdrawRow(3);
    EXPECT_EQ(job.takeNextRow(), std::nullopt);
    EXPECT_TRUE(job.takeReport()->endsJob);
    EXPECT_EQ(job.doneCount(), 3);

    // The next stage passes over the rows that failed and tells nothing about them again.
    job.beginStage(1);
    EXPECT_EQ(job.takeNextRow(), 0);
    job.finishRow(0, RowState::Done);
    EXPECT_EQ(job.takeReport()->row, 0);
    EXPECT_EQ(job.takeNextRow(), 3);
    EXPECT_EQ(job.doneCount(), 3);
    job.finishRow(3, RowState::Done);
    EXPECT_EQ(job.takeReport()->row, 3);
    EXPECT_TRUE(job.stageOver());
}

}  // namespace
