#include "kdtree/SphereSearch.h"

#include "kdtree/TreeFixture.h"

#include <gtest/gtest.h>

TEST(SphereSearch, SurfaceIsInside)
{
    Reconstruct r;
    loadPoints(r, "1 2 5 0 0 1\n"
                  "1 2 5.000001 0 0 1\n");
    const SphereSearch sphere(CGVertex{1.0, 2.0, 3.0}, 2.0);
    EXPECT_TRUE(sphere.contains(r.nodes[0]));
    EXPECT_FALSE(sphere.contains(r.nodes[1]));
}

TEST(SphereSearch, CornerOfTheBoxIsOutside)
{
    Reconstruct r;
    loadPoints(r, "1.9 1.9 0 0 0 1\n");
    const SphereSearch sphere(CGVertex{}, 2.0);
    CGVertex min;
    CGVertex max;
    sphere.bounds(min, max);
    EXPECT_LT(min.x, 1.9);
    EXPECT_GT(max.x, 1.9);
    EXPECT_FALSE(sphere.contains(r.nodes[0]));
}

TEST(SphereSearch, ZeroRadiusHoldsOnlyItsCentre)
{
    Reconstruct r;
    loadPoints(r, "1 2 3 0 0 1\n"
                  "1 2 3.0000000001 0 0 1\n");
    const SphereSearch sphere(CGVertex{1.0, 2.0, 3.0}, 0.0);
    EXPECT_TRUE(sphere.contains(r.nodes[0]));
    EXPECT_FALSE(sphere.contains(r.nodes[1]));
}

TEST(SphereSearch, BoundsOverwriteBothCorners)
{
    const SphereSearch sphere(CGVertex{1.0, 2.0, 3.0}, 0.5);
    CGVertex min = {100.0, 100.0, 100.0};
    CGVertex max = {-100.0, -100.0, -100.0};
    sphere.bounds(min, max);
    EXPECT_EQ(min.x, 0.5);
    EXPECT_EQ(min.y, 1.5);
    EXPECT_EQ(min.z, 2.5);
    EXPECT_EQ(max.x, 1.5);
    EXPECT_EQ(max.y, 2.5);
    EXPECT_EQ(max.z, 3.5);
}
