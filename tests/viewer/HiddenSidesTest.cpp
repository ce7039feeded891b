#include "viewer/HiddenSides.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 30;

// Clip space is the window's own: x and y from -1 to 1 across a 40 by 30
// frame and depth z straight through, so points are written as
// ((2 * px / 40) - 1, (2 * py / 30) - 1, 2 * depth - 1) with w = 1.
const Matrix4 kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const int kViewport[4] = {0, 0, kWidth, kHeight};

void addPoint(std::vector<float>& points, double px, double py, double depth)
{
    points.push_back(static_cast<float>(2.0 * px / kWidth - 1.0));
    points.push_back(static_cast<float>(2.0 * py / kHeight - 1.0));
    points.push_back(static_cast<float>(2.0 * depth - 1.0));
}

// A frame whose faces lie at depth 0.5 everywhere but at the given pixels,
// where nothing was drawn.
HiddenSides frameWithFaces(const std::vector<float>& points, const std::vector<std::pair<int, int>>& open = {})
{
    HiddenSides sides;
    sides.project(points.data(), points.size() / 3, kIdentity, kViewport);
    std::vector<float>& depth = sides.depthOf(kWidth, kHeight);
    std::fill(depth.begin(), depth.end(), 0.5f);
    for (const auto& [x, y] : open)
        depth[static_cast<std::size_t>(y) * kWidth + x] = 1.0f;
    return sides;
}

TEST(HiddenSides, BehindTheFacesIsLeftOutOnTheirDepthOrNearerIsKept)
{
    std::vector<float> points;
    addPoint(points, 10.2, 10.3, 0.6);  // 0, 1: behind
    addPoint(points, 10.9, 10.5, 0.6);
    addPoint(points, 20.2, 10.3, 0.5);  // 2, 3: on the faces, where rounding decides
    addPoint(points, 20.9, 10.5, 0.5);
    addPoint(points, 30.2, 10.3, 0.4);  // 4, 5: in front
    addPoint(points, 30.9, 10.5, 0.4);
    HiddenSides sides = frameWithFaces(points);
    const std::vector<std::uint32_t> all{0, 1, 2, 3, 4, 5};
    const std::vector<std::uint32_t> expected{2, 3, 4, 5};
    EXPECT_EQ(sides.inFront(all.data(), all.size()), expected);
}

// Through a hole the far side of a surface shows: one open pixel within a
// pixel of the side keeps it; one further off does not.
TEST(HiddenSides, AnOpenPixelWithinReachKeepsASideBehind)
{
    std::vector<float> points;
    addPoint(points, 10.2, 10.5, 0.6);
    addPoint(points, 12.8, 10.5, 0.6);
    const std::vector<std::uint32_t> side{0, 1};
    EXPECT_EQ(frameWithFaces(points, {{13, 11}}).inFront(side.data(), 2).size(), 2u);
    EXPECT_EQ(frameWithFaces(points, {{9, 10}}).inFront(side.data(), 2).size(), 2u);
    EXPECT_TRUE(frameWithFaces(points, {{15, 10}, {11, 13}, {7, 10}}).inFront(side.data(), 2).empty());
}

// GL interpolates depth along the line and may light a pixel centre a
// little beyond an end: a short side that falls steeply away from the
// viewer may reach in front of the faces there, though both ends are behind.
TEST(HiddenSides, ASteepShortSideIsKept)
{
    std::vector<float> points;
    addPoint(points, 10.50, 10.5, 0.51);
    addPoint(points, 10.52, 10.5, 0.9);
    const std::vector<std::uint32_t> side{0, 1};
    EXPECT_EQ(frameWithFaces(points).inFront(side.data(), 2).size(), 2u);
}

TEST(HiddenSides, BeyondTheNearOrFarPlaneIsKeptOutsideTheFrameLeftOut)
{
    std::vector<float> points;
    addPoint(points, 10.5, 10.5, 0.9);
    addPoint(points, 11.5, 10.5, 1.2);   // beyond the far plane
    addPoint(points, 12.5, 10.5, -0.1);  // nearer than the near plane
    addPoint(points, -5.0, 10.5, 0.1);   // left of the frame
    addPoint(points, -3.0, 12.5, 0.1);
    HiddenSides sides = frameWithFaces(points);
    // The last names a point that was never projected: kept, not read.
    const std::vector<std::uint32_t> all{0, 1, 0, 2, 3, 4, 3, 99};
    const std::vector<std::uint32_t> expected{0, 1, 0, 2, 3, 99};
    EXPECT_EQ(sides.inFront(all.data(), all.size()), expected);
}

// Enough sides for two threads: the list must be the one a single pass
// gives, in the order the sides came.
TEST(HiddenSides, ManySidesKeepTheirOrder)
{
    std::vector<float> points;
    std::vector<std::uint32_t> all;
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = 0; i < 150001; ++i) {
        const double x = 1.0 + (i % 37);
        const double y = 1.0 + (i % 27);
        const double depth = i % 3 == 0 ? 0.4 : 0.7;
        addPoint(points, x + 0.2, y + 0.3, depth);
        addPoint(points, x + 0.7, y + 0.4, depth);
        all.push_back(2 * i);
        all.push_back(2 * i + 1);
        if (i % 3 == 0) {
            expected.push_back(2 * i);
            expected.push_back(2 * i + 1);
        }
    }
    HiddenSides sides = frameWithFaces(points);
    EXPECT_EQ(sides.inFront(all.data(), all.size()), expected);
}

}  // namespace
