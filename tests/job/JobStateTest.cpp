#include "job/JobState.h"

#include <gtest/gtest.h>

namespace {

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
    EXPECT_FALSE(job.reportDue()) << "row 0 has not ended yet";
    EXPECT_EQ(job.takeReport(), std::nullopt);
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
