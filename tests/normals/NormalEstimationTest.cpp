#include "normals/NormalEstimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Sample {
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;  // the true ones, unit length, outward
};

// A torus sampled at random (by angle, which crowds the inner side: a
// harder case than uniform by area), jittered along its normal.
Sample torus(std::size_t count, double offset = 0.0)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Sample s;
    for (std::size_t i = 0; i < count; ++i) {
        const double u = 2 * kPi * unit(random);
        const double v = 2 * kPi * unit(random);
        const double r = 1.0 + 0.002 * (unit(random) - 0.5);
        s.positions.push_back(
            {offset + (3 + r * std::cos(v)) * std::cos(u), (3 + r * std::cos(v)) * std::sin(u), r * std::sin(v)});
        s.normals.push_back({std::cos(v) * std::cos(u), std::cos(v) * std::sin(u), std::sin(v)});
    }
    return s;
}

double shareWithin15Degrees(const std::vector<CGVector>& estimated, const std::vector<CGVector>& truth)
{
    std::size_t good = 0;
    for (std::size_t i = 0; i < estimated.size(); ++i)
        if (dot(estimated[i], truth[i]) >= std::cos(15 * kPi / 180))
            ++good;
    return static_cast<double>(good) / static_cast<double>(estimated.size());
}

}  // namespace

TEST(EstimateNormals, TorusNormalsFollowTheSurfaceAndPointOutward)
{
    const Sample s = torus(20000);
    const std::vector<CGVector> estimated = estimateNormals(s.positions, 16, 2);
    EXPECT_GE(shareWithin15Degrees(estimated, s.normals), 0.99);
    for (const CGVector& n : estimated)
        ASSERT_NEAR(squaredLength(n), 1.0, 1e-9);
}

TEST(EstimateNormals, SameBitsWhateverTheThreadCount)
{
    const Sample s = torus(5000);
    const std::vector<CGVector> one = estimateNormals(s.positions, 16, 1);
    for (unsigned threads : {2u, 3u, 0u}) {
        const std::vector<CGVector> more = estimateNormals(s.positions, 16, threads);
        ASSERT_EQ(more.size(), one.size());
        EXPECT_EQ(std::memcmp(more.data(), one.data(), one.size() * sizeof(CGVector)), 0) << threads;
    }
}

TEST(EstimateNormals, EachPieceIsTurnedOutwardOnItsOwn)
{
    // Two tori far apart: two pieces of the neighbour graph, each of which
    // must find its own outside.
    Sample s = torus(4000);
    const Sample far = torus(4000, 100.0);
    s.positions.insert(s.positions.end(), far.positions.begin(), far.positions.end());
    s.normals.insert(s.normals.end(), far.normals.begin(), far.normals.end());
    EXPECT_GE(shareWithin15Degrees(estimateNormals(s.positions, 16), s.normals), 0.99);
}

TEST(EstimateNormals, OpenScanFacesUp)
{
    // A height field seen from above, as a single scan gives it: its top is
    // its only outside.
    std::vector<CGVertex> grid;
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 60; ++j)
            grid.push_back({i * 0.1, j * 0.1, 0.2 * std::sin(i * 0.1) * std::cos(j * 0.07)});
    for (const CGVector& n : estimateNormals(grid, 16))
        ASSERT_GT(n.z, 0.8);
}

TEST(EstimateNormals, FewOrCoincidentPointsGiveFiniteNormals)
{
    // Fewer points than neighbours asked for, and points all in one place:
    // no direction of least spread exists, yet nothing may break.
    for (const std::vector<CGVertex>& points :
         {std::vector<CGVertex>{{1, 2, 3}}, std::vector<CGVertex>{{0, 0, 0}, {1, 0, 0}},
          std::vector<CGVertex>(50, CGVertex{5, 5, 5}),
          std::vector<CGVertex>{{1e300, 0, 0}, {-1e300, 1, 0}, {0, 0, 1}}}) {
        const std::vector<CGVector> normals = estimateNormals(points, 16);
        ASSERT_EQ(normals.size(), points.size());
        for (const CGVector& n : normals)
            EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
    }
    EXPECT_TRUE(estimateNormals({}, 16).empty());
}
