#include "viewer/Framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// The eight corners of a cube of side `side` with its lowest corner at
// `low`, plus its centre: a box whose bounding sphere is known exactly.
std::vector<CGVertex> cube(CGVertex low, double side)
{
    std::vector<CGVertex> points;
    for (int i = 0; i < 8; ++i)
        points.push_back({low.x + side * (i & 1), low.y + side * ((i >> 1) & 1), low.z + side * ((i >> 2) & 1)});
    points.push_back({low.x + side / 2, low.y + side / 2, low.z + side / 2});
    return points;
}

double largestPlacedRadius(const std::vector<CGVertex>& points, const Framing& framing)
{
    double radius = 0.0;
    for (const CGVertex& p : points) {
        const CGVertex q = framing.place(p);
        radius = std::max(radius, std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z));
    }
    return radius;
}

TEST(FitFraming, TinyAndHugeModelsFarAwayLandOnTheSameSphere)
{
    // A micrometre cube a hundred kilometres out: in float its corners would
    // all be one number; centred in double they keep their shape.
    for (const double side : {1e-6, 1e4}) {
        const std::vector<CGVertex> points = cube({1e5, -1e5, 1e5}, side);
        const Framing framing = fitFraming(points);
        EXPECT_NEAR(largestPlacedRadius(points, framing), kFitRadius, kFitRadius * 1e-6) << side;
        const CGVertex middle = framing.place(points.back());
        EXPECT_NEAR(middle.x, 0.0, 1e-6) << side;
        EXPECT_NEAR(middle.y, 0.0, 1e-6) << side;
        EXPECT_NEAR(middle.z, 0.0, 1e-6) << side;
        // Every point's nearest neighbour is a whole radius away; a third of
        // that is capped, so that a few sparse points are not drawn as balls.
        EXPECT_NEAR(framing.pointRadius, kFitRadius / 10.0, 1e-9) << side;
    }
}

TEST(FitFraming, PointsFollowTheSpacingAndDuplicatesDoNotShrinkThem)
{
    // A 20 by 20 grid of spacing 1, every point given twice: the nearest
    // distinct neighbour is 1 away, whatever the copies say.
    std::vector<CGVertex> points;
    for (int copy = 0; copy < 2; ++copy)
        for (int i = 0; i < 20; ++i)
            for (int j = 0; j < 20; ++j)
                points.push_back({static_cast<double>(i), static_cast<double>(j), 0.0});
    const Framing framing = fitFraming(points);
    EXPECT_NEAR(framing.pointRadius, framing.scale / 3.0, 1e-9);
}

TEST(FitFraming, OnePlaceKeepsTheScaleAndStillDrawsThePoint)
{
    const std::vector<CGVertex> points(3, CGVertex{7.0, 8.0, 9.0});
    const Framing framing = fitFraming(points);
    EXPECT_EQ(framing.scale, 1.0);
    const CGVertex placed = framing.place(points.front());
    EXPECT_EQ(placed.x, 0.0);
    EXPECT_GT(framing.pointRadius, 0.0);
    EXPECT_EQ(fitFraming({}).scale, 1.0);
}

TEST(PixelsShown, MeasuresWhatTheFrameShows)
{
    const Framing none;
    Camera view;
    view.translation = {0.0, 0.0, -125.0};
    // One unit across at 125 units, in a 45 degree view 600 pixels high:
    // 600 / (2 * 125 * tan 22.5 degrees) = 5.79 pixels.
    EXPECT_NEAR(pixelsShown({{-0.5, 0.0, 0.0}, {0.5, 0.0, 0.0}}, none, view, 800, 600), 5.79, 0.01);
    EXPECT_NEAR(pixelsShown({{0.0, -0.5, 0.0}, {0.0, 0.5, 0.0}}, none, view, 800, 600), 5.79, 0.01);
    // Beyond the far plane, behind the eye, or off to the side: nothing.
    EXPECT_EQ(pixelsShown({{0.0, 0.0, -900.0}, {1.0, 0.0, -900.0}}, none, view, 800, 600), 0.0);
    EXPECT_EQ(pixelsShown({{0.0, 0.0, 200.0}, {1.0, 0.0, 200.0}}, none, view, 800, 600), 0.0);
    EXPECT_EQ(pixelsShown({{500.0, 0.0, 0.0}, {501.0, 0.0, 0.0}}, none, view, 800, 600), 0.0);
    // The fitted sphere spans about 80% of the height.
    const double fitted = pixelsShown({{0.0, -kFitRadius, 0.0}, {0.0, kFitRadius, 0.0}}, none, view, 800, 600);
    EXPECT_GT(fitted, 0.75 * 600);
    EXPECT_LT(fitted, 0.85 * 600);
}

TEST(PixelsShown, TurnsAsTheFrameDoes)
{
    // A quarter turn about x, then y, then z maps the x axis onto z, away
    // from the eye: a line along x seen end-on covers no width (bar what
    // the single-precision matrix GL draws with leaves of a quarter turn).
    Camera view;
    view.translation = {0.0, 0.0, -125.0};
    view.angle = 90.0;
    EXPECT_LT(pixelsShown({{-10.0, 0.0, 0.0}, {10.0, 0.0, 0.0}}, Framing{}, view, 800, 600), 1e-3);
}

}  // namespace
