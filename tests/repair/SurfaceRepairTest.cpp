#include "repair/SurfaceRepair.h"

#include "geometry/Surface.h"
#include "repair/SurfaceReport.h"

#include <gtest/gtest.h>

namespace {

// Points whose normals point away from the origin, as on a closed shape
// around it.
Surface outwardFrom(std::vector<CGVertex> positions, Faces faces)
{
    Surface s;
    for (const CGVertex& p : positions)
        s.normals.push_back(p - CGVertex{});
    s.positions = std::move(positions);
    s.faces = std::move(faces);
    return s;
}

Surface octahedron()
{
    return outwardFrom({{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}},
                       {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
}

// A cube about the origin, two triangles a side.
Surface cube()
{
    return outwardFrom(
        {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}, {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
        {{0, 2, 1},
         {0, 3, 2},
         {4, 5, 6},
         {4, 6, 7},
         {0, 1, 5},
         {0, 5, 4},
         {1, 2, 6},
         {1, 6, 5},
         {2, 3, 7},
         {2, 7, 6},
         {3, 0, 4},
         {3, 4, 7}});
}

void expectClosedAndOneWay(const Surface& s, std::int64_t euler)
{
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.boundaryEdges, 0u);
    EXPECT_EQ(r.nonManifoldEdges, 0u);
    EXPECT_EQ(r.inconsistentEdges, 0u);
    EXPECT_EQ(r.duplicateFaces, 0u);
    EXPECT_EQ(r.eulerCharacteristic, euler);
}

}  // namespace

TEST(SurfaceRepair, CleanClosedSurfacePassesUnchanged)
{
    Surface s = cube();
    const Faces before = s.faces;
    const RepairCounts c = repairSurface(s, 30);
    EXPECT_EQ(s.faces, before);
    EXPECT_EQ(c.removedDuplicates + c.removedFoldOvers + c.removedPieces + c.flippedFaces + c.filledHoles +
                  c.facesAdded + c.holesLeftOpen,
              0u);
}

TEST(SurfaceRepair, DuplicateGoesAndTheFirstStays)
{
    Surface s = octahedron();
    const Faces before = s.faces;
    s.faces.push_back({4, 0, 2});  // the first face again, from another corner
    const RepairCounts c = repairSurface(s, 30);
    EXPECT_EQ(c.removedDuplicates, 1u);
    EXPECT_EQ(s.faces, before);
}

// Two neighbouring faces wound against the rest: the majority of the area
// agrees with the normals, so those two turn back, not the other six.
TEST(SurfaceRepair, FlippedPatchTurnsBack)
{
    Surface s = octahedron();
    const Faces before = s.faces;
    std::swap(s.faces[0][1], s.faces[0][2]);
    std::swap(s.faces[1][1], s.faces[1][2]);
    const RepairCounts c = repairSurface(s, 30);
    EXPECT_EQ(c.flippedFaces, 2u);
    EXPECT_EQ(c.removedFoldOvers, 0u);
    EXPECT_EQ(s.faces, before);
}

// Two faces that run the edge 0-1 the same way and lie on the same side of
// it: the one whose plane fits its corners' normals worse goes, though it
// came first.
TEST(SurfaceRepair, FoldLosesTheFaceThatFitsTheNormalsWorse)
{
    Surface s;
    s.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0.5}, {0.2, 0.9, 0}};
    s.normals.assign(4, CGVector{0, 0, 1});
    s.faces = {{0, 1, 2}, {0, 1, 3}};
    const RepairCounts c = repairSurface(s, 0);  // holes:0, so nothing grows back over point 2
    EXPECT_EQ(c.removedFoldOvers, 1u);
    EXPECT_EQ(s.faces, (Faces{{0, 1, 3}}));
}

TEST(SurfaceRepair, SquareHoleIsClosed)
{
    Surface s = cube();
    s.faces.erase(s.faces.begin() + 2, s.faces.begin() + 4);  // the top
    const RepairCounts c = repairSurface(s, 30);
    EXPECT_EQ(c.filledHoles, 1u);
    EXPECT_EQ(c.facesAdded, 2u);
    EXPECT_EQ(s.faces.size(), 12u);
    expectClosedAndOneWay(s, 2);

    Surface small = cube();
    small.faces.erase(small.faces.begin() + 2, small.faces.begin() + 4);
    EXPECT_EQ(repairSurface(small, 3).filledHoles, 0u) << "four edges are more than holes:3 allows";
}

// A square pyramid open at its base, with a fin on each diagonal of the
// base: either way of closing the base puts a third face on a diagonal.
TEST(SurfaceRepair, FinsThatCrossTheSurfaceGoAndItsHoleCloses)
{
    // A square pyramid with its base open and two fins standing on the
    // base's diagonals: the fins cross each other and the pyramid, and they
    // take the edges any closing of the base needs.
    Surface s = outwardFrom({{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, 3}, {0, 0, 4}},
                            {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}, {0, 2, 5}, {1, 3, 6}});
    const RepairCounts c = repairSurface(s, 30);
    EXPECT_EQ(c.removedIntersecting, 2u);
    EXPECT_EQ(c.filledHoles, 1u);
    EXPECT_EQ(c.holesLeftOpen, 0u);
    expectClosedAndOneWay(s, 2);
}
