#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "filter/filter.h"

// The worked steps of R = 5 on a 12-pixel-wide area.
TEST(ComputeStepRuns, WorkedStepsOfRadius5) {
    struct Row {
        int step, left, right;
    };
    static const Row rows[] = {{0, 1, 10}, {1, 1, 10}, {2, 2, 9}, {3, 3, 8}, {4, 6, 5}};
    for (const Row &row : rows) {
        StepRuns runs = ComputeStepRuns(5, 12, row.step);
        EXPECT_EQ(runs.left, row.left) << "step " << row.step;
        EXPECT_EQ(runs.right, row.right) << "step " << row.step;
    }
}

// Left = right run length by step, for R = 20 on a 100-pixel-wide area.
TEST(ComputeStepRuns, RunLengthsOfRadius20) {
    static const int lengths[20] = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 4, 4, 5, 6, 8, 9, 11, 14, 20};
    for (int step = 0; step < 20; step++) {
        StepRuns runs = ComputeStepRuns(20, 100, step);
        int left = runs.left - 1 > 0 ? runs.left - 1 : 0;
        int right = 100 - (runs.right + 2) > 0 ? 100 - (runs.right + 2) : 0;
        EXPECT_EQ(left, lengths[step]) << "step " << step;
        EXPECT_EQ(right, lengths[step]) << "step " << step;
    }
}

// With W close to R the right-hand argument is negative, and truncation toward
// zero (not flooring) decides: for R = W = 6 the last step's right run starts
// at column 1.
TEST(ComputeStepRuns, TruncatesTowardZero) {
    StepRuns runs = ComputeStepRuns(6, 6, 5);
    EXPECT_EQ(runs.right + 2, 1);
    EXPECT_EQ(runs.left - 2, 5);  // at u = 0 the left run is columns 0 to R - 1
}

// Counts around the sizes at which the painted stretch is copied onward: every
// pixel of the run gets the colour, no byte before or after it changes.
TEST(PaintBackgroundRun, PaintsExactlyTheRun) {
    FilterPass pass = {0, 0, 0, nullptr, 0x10, 0x20, 0x30, nullptr, nullptr};
    for (int count : {-1, 0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 100}) {
        std::vector<unsigned char> row(3 * 102 + 6, 0xEE);
        PaintBackgroundRun(pass, row.data() + 3, count);
        for (size_t i = 0; i < row.size(); i++) {
            bool inRun = i >= 3 && i < 3 + 3 * static_cast<size_t>(count > 0 ? count : 0);
            unsigned char want = inRun ? "\x10\x20\x30"[(i - 3) % 3] : 0xEE;
            ASSERT_EQ(row[i], want) << "count " << count << ", byte " << i;
        }
    }
}

TEST(LastInsideStep, SkipsTheStepOutsideTheArea) {
    EXPECT_EQ(LastInsideStep(20), 18);
    EXPECT_LT(LastInsideStep(1), 0);  // R = 1: its only step lies on rows -1 and H
    EXPECT_LT(LastInsideStep(0), 0);
    EXPECT_LT(LastInsideStep(-5), 0);
    EXPECT_LT(LastInsideStep(INT32_MIN), 0);  // from a settings file; R - 2 would overflow
}

TEST(BlockBytes, RefusesWhatCannotBeCounted) {
    EXPECT_EQ(BlockBytes(10, 3, 100), 130);
    EXPECT_EQ(BlockBytes(0, 3, 100), 100);
    EXPECT_EQ(BlockBytes(-1, 3, 100), -1);
    EXPECT_EQ(BlockBytes(INT64_MAX / 3, 3, 100), -1);
    EXPECT_EQ(BlockBytes(INT64_MAX / 3, 3, 0), INT64_MAX / 3 * 3);
}
