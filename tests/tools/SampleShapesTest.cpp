#include "SampleShapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

// The benchmark's sorted-input case is only a hard case if the file really
// comes in x order; a grid that came out shuffled or short would quietly
// make the check meaningless.
TEST(GridSample, ComesSortedByXWithTheExactCount)
{
    const auto points = gridSample(1000);  // 32 per column: the last one is short
    ASSERT_EQ(points.size(), 1000u);
    for (std::size_t i = 1; i < points.size(); ++i) {
        const bool ordered = points[i - 1].x < points[i].x ||
                             (points[i - 1].x == points[i].x && points[i - 1].y < points[i].y);
        ASSERT_TRUE(ordered) << "at point " << i;
    }
}

// Distinct places on one plane, all facing up: a flat sheet the engine can
// mesh, not a heap of duplicates.
TEST(GridSample, PointsAreDistinctAndFlat)
{
    std::set<std::pair<double, double>> seen;
    for (const SamplePoint& p : gridSample(300)) {
        EXPECT_EQ(p.z, 0.0);
        EXPECT_EQ(p.nz, 1.0);
        EXPECT_TRUE(seen.insert({p.x, p.y}).second) << p.x << " " << p.y;
    }
}

// make_samples writes six decimals. Multiples of 1/64 need no more than
// that, so the file holds the grid exactly and its distances still tie.
TEST(GridSample, LargeGridsSurviveSixDecimals)
{
    for (const SamplePoint& p : gridSample(300000)) {
        ASSERT_EQ(p.x * 64.0, std::trunc(p.x * 64.0)) << p.x;
        ASSERT_EQ(p.y * 64.0, std::trunc(p.y * 64.0)) << p.y;
    }
}
