// The frame budget settles where points and fixed costs together meet the target.
#include <gtest/gtest.h>

#include "viewer/DrawBudget.h"

namespace {

TEST(DrawBudget, LeavesRoomForFixedCostsAndNeverDrawsNothing) {
    struct Row {
        double perPoint, fixed;
        size_t expected;  // 0.85 * 33 ms less the fixed cost, over the per-point cost
    };
    const Row rows[] = {{1e-7, 0.0, 280500}, {1e-7, 0.01, 180500}, {1e-7, 0.05, 1000}, {1e-9, 0.0, 5000000}};
    for (const Row& row : rows) {
        viewer::DrawBudget budget(0.033);
        EXPECT_EQ(budget.pointsPerFrame(5000000), 100000u) << "a first guess before any frame";
        budget.record(100000, 100000 * row.perPoint, 100000 * row.perPoint + row.fixed);
        EXPECT_NEAR(double(budget.pointsPerFrame(5000000)), double(row.expected), 2.0) << row.fixed;
    }
    EXPECT_EQ(viewer::DrawBudget(0).pointsPerFrame(123), 123u);
    EXPECT_EQ(viewer::DrawBudget(0.033).pointsPerFrame(10), 10u);
}

}  // namespace
