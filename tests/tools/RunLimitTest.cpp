#include "analysis/ProgressMath.h"
#include "analysis/RunLimit.h"

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

}  // namespace
