#include "viewer/HiddenSides.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
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

// The whole box of a side, read pixel by pixel: what the ends' bounds must
// agree with.
bool hiddenByItsBox(const std::vector<float>& depth, float ax, float ay, float az, float bx, float by, float bz)
{
    if (std::isnan(az) || std::isnan(bz))
        return false;
    const int left = std::max(static_cast<int>(std::ceil(std::min(ax, bx) - 1.5)), 0);
    const int right = std::min(static_cast<int>(std::floor(std::max(ax, bx) + 0.5)), kWidth - 1);
    const int bottom = std::max(static_cast<int>(std::ceil(std::min(ay, by) - 1.5)), 0);
    const int top = std::min(static_cast<int>(std::floor(std::max(ay, by) + 0.5)), kHeight - 1);
    if (left > right || bottom > top)
        return true;
    float deepest = 0.0f;
    for (int y = bottom; y <= top; ++y)
        for (int x = left; x <= right; ++x)
            deepest = std::max(deepest, depth[static_cast<std::size_t>(y) * kWidth + x]);
    const double closest = std::min(az, bz) - 4e-6;
    const double across = static_cast<double>(ax) - bx;
    const double up = static_cast<double>(ay) - by;
    const double length = std::sqrt(across * across + up * up);
    if (closest < deepest || length < 1e-3)
        return false;
    return closest - std::abs(static_cast<double>(az) - bz) / length * 1.5 >= deepest;
}

// Short and long sides over uneven faces with holes, in and beyond the
// frame: the kept list is the one the whole boxes give.
TEST(HiddenSides, EndBoundsKeepWhatTheWholeBoxKeeps)
{
    std::mt19937 random(23);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // A walk in steps under a pixel, now and then jumping anywhere.
    std::vector<float> points;
    double x = 20.0;
    double y = 15.0;
    double z = 0.5;
    for (int i = 0; i < 8000; ++i) {
        x = i % 50 == 0 ? -2.0 + 44.0 * unit(random) : x - 0.7 + 1.4 * unit(random);
        y = i % 50 == 0 ? -2.0 + 34.0 * unit(random) : y - 0.7 + 1.4 * unit(random);
        z = i % 5 == 0 ? 0.49 + 0.03 * unit(random) : z + 1e-5 * unit(random);
        addPoint(points, x, y, z);
    }
    HiddenSides sides;
    sides.project(points.data(), points.size() / 3, kIdentity, kViewport);
    std::vector<float>& depth = sides.depthOf(kWidth, kHeight);
    for (float& pixel : depth)
        pixel = unit(random) < 0.05 ? 1.0f : static_cast<float>(0.49 + 0.02 * unit(random));
    const std::vector<float> held = depth;
    std::vector<std::uint32_t> all;
    std::vector<std::uint32_t> expected;
    for (std::uint32_t a = 0; a < 8000; ++a)
        for (const std::uint32_t step : {1U, 2U, 61U}) {
            const std::uint32_t b = (a + step) % 8000;
            all.push_back(a);
            all.push_back(b);
            // As project places them: window x, y and depth from clip space.
            const auto place = [&points](std::uint32_t i, int axis, double size) {
                return static_cast<float>((points[3 * i + axis] + 1.0) * 0.5 * size);
            };
            if (!hiddenByItsBox(held, place(a, 0, kWidth), place(a, 1, kHeight), place(a, 2, 1.0), place(b, 0, kWidth),
                                place(b, 1, kHeight), place(b, 2, 1.0))) {
                expected.push_back(a);
                expected.push_back(b);
            }
        }
    const std::vector<std::uint32_t>& kept = sides.inFront(all.data(), all.size());
    EXPECT_GT(expected.size(), all.size() / 10);
    EXPECT_LT(expected.size(), all.size() * 9 / 10);
    EXPECT_EQ(kept, expected);
}

}  // namespace
