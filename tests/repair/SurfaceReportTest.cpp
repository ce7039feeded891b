#include "repair/SurfaceReport.h"

#include "geometry/Surface.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Surface surfaceOf(std::vector<CGVertex> positions, Faces faces)
{
    Surface s;
    s.normals.assign(positions.size(), CGVector{0.0, 0.0, 1.0});
    s.positions = std::move(positions);
    s.faces = std::move(faces);
    return s;
}

}  // namespace

TEST(SurfaceReport, ClosedOctahedron)
{
    const Surface s =
        surfaceOf({{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}},
                  {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.faces, 8u);
    EXPECT_EQ(r.verticesUsed, 6u);
    EXPECT_EQ(r.edges, 12u);
    EXPECT_EQ(r.boundaryEdges + r.boundaryLoops + r.nonManifoldEdges + r.inconsistentEdges, 0u);
    EXPECT_EQ(r.components, 1u);
    EXPECT_EQ(r.eulerCharacteristic, 2);
    EXPECT_NEAR(r.area, 4.0 * std::sqrt(3.0), 1e-12);
}

// Every fault at once: a duplicate that makes two edges run the same way
// and one edge carry three faces, a collinear face apart from the rest and
// a point no face uses.
TEST(SurfaceReport, CountsEveryFault)
{
    const Surface s =
        surfaceOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 0, 0}, {5, 5, 5}, {6, 5, 5}, {7, 5, 5}, {9, 9, 9}},
                  {{0, 1, 2}, {1, 3, 2}, {0, 1, 2}, {1, 4, 3}, {5, 6, 7}});
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.faces, 5u);
    EXPECT_EQ(r.verticesUsed, 8u);
    EXPECT_EQ(r.edges, 10u);
    EXPECT_EQ(r.boundaryEdges, 6u);
    EXPECT_EQ(r.boundaryLoops, 2u);
    EXPECT_EQ(r.nonManifoldEdges, 1u);
    EXPECT_EQ(r.inconsistentEdges, 2u);
    EXPECT_EQ(r.duplicateFaces, 1u);
    EXPECT_EQ(r.zeroAreaFaces, 1u);
    EXPECT_EQ(r.components, 2u);
    EXPECT_EQ(r.eulerCharacteristic, 3);
    EXPECT_DOUBLE_EQ(r.area, 2.0);
}
