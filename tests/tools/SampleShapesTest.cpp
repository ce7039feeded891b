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
        const bool ordered =
            points[i - 1].x < points[i].x || (points[i - 1].x == points[i].x && points[i - 1].y < points[i].y);
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

// The benchmarks judge the engine on these: a point off its surface or a
// normal that does not face out would make them measure something else.
TEST(JitteredSample, PointsLieOnTheSurfaceWithOutwardNormals)
{
    const double major = 25.0, minor = 10.0;
    for (const auto& points : {jitteredTorusSample(5000, major, minor, 1), randomTorusSample(5000, major, minor, 1)}) {
        ASSERT_GT(points.size(), 4800u);
        for (const SamplePoint& p : points) {
            const double ring = std::sqrt(p.x * p.x + p.y * p.y);
            ASSERT_NEAR(std::hypot(ring - major, p.z), minor, 1e-9);
            ASSERT_NEAR(std::sqrt(p.nx * p.nx + p.ny * p.ny + p.nz * p.nz), 1.0, 1e-12);
            ASSERT_GT((ring - major) * (p.nx * p.x + p.ny * p.y) / ring + p.z * p.nz, 0.0);
        }
    }
    for (const auto& points : {jitteredSphereSample(5000, 30.0, 1), randomSphereSample(5000, 30.0, 1)}) {
        ASSERT_GT(points.size(), 4800u);
        for (const SamplePoint& p : points) {
            ASSERT_NEAR(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z), 30.0, 1e-9);
            ASSERT_NEAR(p.x, 30.0 * p.nx, 1e-9);
        }
    }
}

// Same seed, same points: benchmark figures are only comparable run to run
// when the inputs are byte for byte the same; a different seed differs.
TEST(JitteredSample, SeedDecidesThePoints)
{
    const auto a = noisySphereSample(1000, 30.0, 0.25, 7);
    const auto b = noisySphereSample(1000, 30.0, 0.25, 7);
    const auto c = noisySphereSample(1000, 30.0, 0.25, 8);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_TRUE(a[i].x == b[i].x && a[i].y == b[i].y && a[i].z == b[i].z);
    EXPECT_NE(a[0].x, c[0].x);
}
