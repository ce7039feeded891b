#include "tiles/TileCut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

std::vector<unsigned> countsPerTile(const TileCut& cut, const std::vector<CGVertex>& points)
{
    std::vector<unsigned> counts(cut.tiles(), 0);
    for (const CGVertex& p : points)
        ++counts[cut.tileOf(p)];
    return counts;
}

}  // namespace

// Ten points along y, spread wider than along x or z: the cut runs across
// y, and each half holds five.
TEST(TileCut, SplitsTheLongestSideAtTheMedian)
{
    std::vector<CGVertex> points;
    for (int i = 0; i < 10; ++i)
        points.push_back({0.1 * (i % 2), 9.0 - i, 0.0});
    const TileCut cut(points, 2);
    EXPECT_EQ(cut.cell(0).high[1], 5.0);
    EXPECT_EQ(cut.cell(1).low[1], 5.0);
    EXPECT_EQ(countsPerTile(cut, points), (std::vector<unsigned>{5, 5}));
}

// Three tiles: the first cut leaves one third on the left, the second
// halves the rest; a point exactly on a cut goes right.
TEST(TileCut, UnevenCountsKeepTheirShare)
{
    std::vector<CGVertex> points;
    for (int i = 0; i < 9; ++i)
        points.push_back({static_cast<double>(i), 0.0, 0.0});
    const TileCut cut(points, 3);
    EXPECT_EQ(countsPerTile(cut, points), (std::vector<unsigned>{3, 3, 3}));
    EXPECT_EQ(cut.tileOf({3.0, 0.0, 0.0}), 1u);
}

// Coincident points cannot be parted: all go right of a cut at their own
// value, and the left cell stays empty rather than split a twin pair.
TEST(TileCut, TwinsStayTogether)
{
    const std::vector<CGVertex> points(6, CGVertex{1.0, 1.0, 1.0});
    const TileCut cut(points, 2);
    EXPECT_EQ(countsPerTile(cut, points), (std::vector<unsigned>{0, 6}));
}

// Walls are only the sides another cell shares: cells reach out to
// infinity, so one tile has none.
TEST(TileCut, WallDistanceCountsSharedSidesOnly)
{
    const std::vector<CGVertex> points = {{0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {2.0, 0.0, 0.0}, {3.0, 0.0, 0.0}};
    const TileCut one(points, 1);
    EXPECT_TRUE(std::isinf(one.wallDistance(0, {0.0, 0.0, 0.0})));
    const TileCut two(points, 2);
    EXPECT_DOUBLE_EQ(two.wallDistance(0, {0.5, 0.0, 0.0}), 1.5);
    // The cell is open along y and z: only x counts.
    EXPECT_DOUBLE_EQ(two.distanceTo(0, {4.0, 3.0, 0.0}), 2.0);
    EXPECT_EQ(two.distanceTo(0, {1.0, 5.0, 0.0}), 0.0);
}

// On many points the median comes from a sampled bracket: it must be the
// value a selection over every point gives, with heavy ties, with a
// sample every point of which lies far from the median (the bracket
// misses), and at an uneven share.
TEST(TileCut, LargeSplitsMatchAFullSelection)
{
    const std::size_t n = 100000;
    std::vector<std::uint32_t> members(n);
    for (std::size_t i = 0; i < n; ++i)
        members[i] = static_cast<std::uint32_t>(n - 1 - i);
    const auto fullSelection = [&](const std::vector<CGVertex>& points, unsigned leftTiles, unsigned tiles) {
        std::vector<double> xs;
        for (const CGVertex& p : points)
            xs.push_back(p.x);
        const std::size_t k = leftShare(n, leftTiles, tiles);
        std::nth_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(k), xs.end());
        return xs[k];
    };
    std::vector<CGVertex> tied(n);
    std::vector<CGVertex> misleading(n);
    for (std::size_t i = 0; i < n; ++i) {
        tied[i] = {static_cast<double>((i * 7919) % 997), 0.0, 0.0};
        // The sample takes every 97th of the members, which run backwards.
        misleading[i] = {(n - 1 - i) % 97 == 0 ? -1.0 : static_cast<double>(i), 0.0, 0.0};
    }
    for (const auto& points : {tied, misleading}) {
        for (const unsigned tiles : {2u, 3u}) {
            const TileSplit split = splitHere(points, members, 1, tiles);
            EXPECT_EQ(split.axis, 0);
            EXPECT_EQ(split.value, fullSelection(points, 1, tiles));
        }
    }
}
