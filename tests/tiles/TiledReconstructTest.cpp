#include "tiles/TiledReconstruct.h"

#include "SampleShapes.h"
#include "geometry/Progress.h"
#include "repair/SurfaceReport.h"
#include "support/TestSupport.h"
#include "tiles/EngineAdaptor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

Surface torus(std::size_t count)
{
    Surface surface;
    for (const SamplePoint& p : jitteredTorusSample(count, 10.0, 4.0, 7)) {
        surface.positions.push_back({p.x, p.y, p.z});
        surface.normals.push_back({p.nx, p.ny, p.nz});
    }
    return surface;
}

}  // namespace

// The whole pipeline on a jittered torus cut in four: the seams close, so
// the tiled surface has no more faults than the single front's beyond a
// small allowance for the seams, and no face is lost or made twice.
TEST(ReconstructTiled, SeamsCloseOnAJitteredTorus)
{
    Surface single = torus(20000);
    Surface tiled = single;
    single.faces = triangulatePoints(single.positions, single.normals, true);
    tiled.faces = reconstructTiled(tiled.positions, tiled.normals, 4, 2, true);
    const SurfaceReport a = reportOn(single);
    const SurfaceReport b = reportOn(tiled);
    const double allowance = 0.01 * static_cast<double>(a.faces);
    EXPECT_NEAR(static_cast<double>(b.faces), static_cast<double>(a.faces), allowance);
    EXPECT_LE(static_cast<double>(b.boundaryEdges), static_cast<double>(a.boundaryEdges) + allowance);
    EXPECT_EQ(b.nonManifoldEdges, 0u);
    EXPECT_LE(b.duplicateFaces, a.duplicateFaces + 2);
    EXPECT_LE(static_cast<double>(b.inconsistentEdges), static_cast<double>(a.inconsistentEdges) + allowance);
}

// The faces depend on the tiles alone: any number of threads gives the
// same list, face for face.
TEST(ReconstructTiled, ThreadsDoNotChangeTheFaces)
{
    const Surface points = torus(6000);
    const Faces one = reconstructTiled(points.positions, points.normals, 5, 1, true);
    const Faces three = reconstructTiled(points.positions, points.normals, 5, 3, true);
    EXPECT_EQ(one, three);
    EXPECT_FALSE(one.empty());
}

// One tile is the single front itself, in file order.
TEST(ReconstructTiled, OneTileIsTheSingleFront)
{
    const Surface points = torus(3000);
    EXPECT_EQ(reconstructTiled(points.positions, points.normals, 1, 4, true),
              triangulatePoints(points.positions, points.normals, true));
}

// The tiles' engines count their triangles into the caller's progress
// from two threads at once, and watching changes no face.
TEST(ReconstructTiled, ProgressCountsEveryTilesTriangles)
{
    const Surface points = torus(8000);
    Progress progress;
    std::atomic<bool> stop{false};
    progress.stopWhen(&stop);
    const Faces watched = reconstructTiled(points.positions, points.normals, 3, 2, true, &progress);
    EXPECT_EQ(watched, reconstructTiled(points.positions, points.normals, 3, 2, true));
    EXPECT_EQ(progress.stage(), Progress::Stage::Triangulating);
    // Each engine tells every two hundredth of its count, in the share of
    // its own points, so nearly all the faces have arrived and no band's
    // twice.
    EXPECT_GE(progress.done(), watched.size() * 9 / 10);
    EXPECT_LE(progress.done(), watched.size() * 21 / 20);
}

// A stop asked for ends the tiled run with nothing, as a cancelled single
// front ends, rather than closing seams over tiles cut short.
TEST(ReconstructTiled, StopEndsWithNothing)
{
    const Surface points = torus(8000);
    Progress progress;
    std::atomic<bool> stop{true};
    progress.stopWhen(&stop);
    EXPECT_TRUE(reconstructTiled(points.positions, points.normals, 3, 2, true, &progress).empty());
}

// Mending only adds faces, each among mendable points, and only closes:
// fewer open sides, none wound against its neighbour, none shared thrice.
TEST(TriangulateLent, MendingShrinksHolesAmongMendablePointsOnly)
{
    Surface plain = torus(20000);
    Surface mended = plain;
    std::vector<bool> mendable(plain.positions.size());
    for (std::size_t i = 0; i < mendable.size(); ++i)
        mendable[i] = plain.positions[i].x < 2.0;
    plain.faces = triangulateLent(plain.positions, plain.normals, true);
    mended.faces = triangulateLent(mended.positions, mended.normals, true, nullptr, mendable);
    // The points come back as they went in.
    ASSERT_EQ(mended.positions.size(), mendable.size());
    EXPECT_EQ(std::memcmp(mended.positions.data(), plain.positions.data(), plain.positions.size() * sizeof(CGVertex)),
              0);
    ASSERT_GT(mended.faces.size(), plain.faces.size());
    EXPECT_TRUE(std::equal(plain.faces.begin(), plain.faces.end(), mended.faces.begin()));
    for (std::size_t f = plain.faces.size(); f < mended.faces.size(); ++f) {
        for (std::uint32_t corner : mended.faces[f])
            EXPECT_TRUE(mendable[corner]) << "face " << f;
    }
    const SurfaceReport before = reportOn(plain);
    const SurfaceReport after = reportOn(mended);
    EXPECT_LT(after.boundaryEdges + (mended.faces.size() - plain.faces.size()), before.boundaryEdges);
    EXPECT_EQ(after.inconsistentEdges, before.inconsistentEdges);
    EXPECT_EQ(after.nonManifoldEdges, before.nonManifoldEdges);
    EXPECT_EQ(after.duplicateFaces, before.duplicateFaces);
}

// More tiles than points leaves cells empty; nothing breaks and every
// point still counts.
TEST(ReconstructTiled, MoreTilesThanPoints)
{
    const std::vector<CGVertex> positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0.1}};
    const std::vector<CGVector> normals(4, CGVector{0, 0, 1});
    const Faces faces = reconstructTiled(positions, normals, 8, 2, true);
    for (const Face& face : faces) {
        for (std::uint32_t corner : face)
            EXPECT_LT(corner, 4u);
    }
}

// A seam must never give a face to a point whose other faces it cannot
// see: the side that would reach it stays open instead. Two faces apart,
// none of the points free, so no seed can come in either.
TEST(GrowFrom, UnusablePointIsNeverANewCorner)
{
    const std::vector<CGVertex> positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {1, 2, 0}};
    const std::vector<CGVector> normals(positions.size(), CGVector{0, 0, 1});
    const Faces given = {{0, 1, 2}, {3, 4, 5}};
    const Sides push = {{1, 2}};
    auto reachesThree = [](const Faces& faces) {
        for (const Face& face : faces) {
            if (face[0] == 3 || face[1] == 3 || face[2] == 3)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(reachesThree(growFrom(positions, normals, given, push, true)));
    std::vector<bool> usable(positions.size(), true);
    usable[3] = false;
    EXPECT_FALSE(reachesThree(growFrom(positions, normals, given, push, true, usable)));
}

// Two faces in the zone, joined to the interior only through a third: while
// that face is kept they stay; once the trim takes it they would be an
// island, so they go back to the seams.
TEST(DropCutOffPatches, PatchCutOffByTheTrimGoesToTheSeams)
{
    const Faces faces = {{0, 1, 2}, {1, 3, 2}, {3, 4, 2}};
    const std::vector<bool> zone = {true, true, true, true, false};
    std::vector<bool> keep = {true, true, true};
    dropCutOffPatches(faces, zone, keep);
    EXPECT_EQ(keep, (std::vector<bool>{true, true, true}));
    keep = {true, true, false};
    dropCutOffPatches(faces, zone, keep);
    EXPECT_EQ(keep, (std::vector<bool>{false, false, false}));
}

// threads bounds the threads the engine's tree is built on: counted by the
// process's own tally while the build reports, with a tile's worth of
// points, enough for the build to split. A bound only: whether the second
// thread is still running when the build reports is up to the scheduler.
TEST(TriangulateLent, TreeIsBuiltOnTheThreadsGiven)
{
    for (const unsigned threads : {1u, 2u}) {
        Surface points = torus(40000);
        Progress progress;
        int most = 0;
        progress.listen([&]() {
            if (progress.stage() == Progress::Stage::Tree && progress.done() > 0)
                most = std::max(most, testsupport::threadsRunning());
        });
        triangulateLent(points.positions, points.normals, true, &progress, {}, threads);
        EXPECT_GE(most, 1);
        EXPECT_LE(most, static_cast<int>(threads));
    }
}

// Given the whole cloud, a tile hands no points back and reads the seams'
// points from the cloud: the same faces and seam part as with them back.
TEST(TriangulateTile, WholeCloudGivesTheSameTile)
{
    const Surface all = torus(6000);
    const TileCut cut(all.positions, 2);
    const TileWidths widths = widthsFor(pointSpacing(all.positions));
    PointSet lent;
    for (std::uint32_t i = 0; i < all.positions.size(); ++i) {
        if (cut.tileOf(all.positions[i]) == 1 || cut.distanceTo(1, all.positions[i]) < widths.band)
            lent.add(i, all.positions[i], all.normals[i]);
    }
    PointSet spared = lent;
    const TileFaces back = triangulateTile(cut, 1, lent, widths, true);
    const WholeCloud cloud{all.positions, all.normals};
    const TileFaces read = triangulateTile(cut, 1, spared, widths, true, nullptr, 1, &cloud);
    EXPECT_EQ(read.faces, back.faces);
    EXPECT_EQ(read.seam.points.ids, back.seam.points.ids);
    EXPECT_EQ(std::memcmp(read.seam.points.normals.data(), back.seam.points.normals.data(),
                          back.seam.points.normals.size() * sizeof(CGVector)),
              0);
    EXPECT_EQ(read.seam.known, back.seam.known);
    EXPECT_EQ(read.seam.given, back.seam.given);
    EXPECT_EQ(read.seam.cut, back.seam.cut);
    EXPECT_FALSE(back.seam.cut.empty());
    EXPECT_TRUE(spared.positions.empty());
    EXPECT_EQ(lent.positions.size(), lent.ids.size());
}

// The spacing from a sample taken as a large cloud's own thinning takes
// it is the cloud's spacing.
TEST(PointSpacing, SampleGivesTheCloudsSpacing)
{
    const Surface all = torus(70000);
    const std::size_t step = spacingStep(all.positions.size());
    ASSERT_EQ(step, 2u);
    std::vector<CGVertex> sample;
    for (std::size_t i = 0; i < all.positions.size(); i += step)
        sample.push_back(all.positions[i]);
    EXPECT_EQ(spacingOfSample(sample, step), pointSpacing(all.positions));
    EXPECT_GT(pointSpacing(all.positions), 0.0);
}

TEST(ForEachTile, FailureInATileReachesTheCaller)
{
    for (unsigned threads : {1u, 2u, 4u}) {
        std::atomic<unsigned> ran{0};
        EXPECT_THROW(forEachTile(64, threads,
                                 [&ran](unsigned tile) {
                                     ++ran;
                                     if (tile == 3)
                                         throw std::bad_alloc();
                                 }),
                     std::bad_alloc)
            << threads << " threads";
        // on one thread the tiles after the failing one never start
        if (threads == 1) {
            EXPECT_EQ(ran.load(), 4u);
        }
    }
}

// The spacing is the median distance from each point to its nearest other,
// twins left out: as a full scan finds it, on a jittered cloud with a twin
// and on a flat one, and with a point too far out for the grid or far
// enough to crowd the rest together.
TEST(TiledReconstruct, SpacingMatchesAFullScan)
{
    const auto scanned = [](const std::vector<CGVertex>& points) {
        std::vector<double> nearest;
        for (std::size_t i = 0; i < points.size(); ++i) {
            double best = std::numeric_limits<double>::infinity();
            for (std::size_t j = 0; j < points.size(); ++j) {
                if (j == i)
                    continue;
                const double dx = points[i].x - points[j].x;
                const double dy = points[i].y - points[j].y;
                const double dz = points[i].z - points[j].z;
                double squared = dx * dx;
                squared += dy * dy;
                squared += dz * dz;
                best = std::min(best, squared);
            }
            if (best > 0.0)
                nearest.push_back(std::sqrt(best));
        }
        std::nth_element(nearest.begin(), nearest.begin() + static_cast<std::ptrdiff_t>(nearest.size() / 2),
                         nearest.end());
        return nearest[nearest.size() / 2];
    };
    std::vector<CGVertex> jittered;
    std::vector<CGVertex> flat;
    for (int i = 0; i < 3000; ++i) {
        const double a = 0.001 * ((i * 7919) % 1000);
        jittered.push_back({std::cos(i * 0.37) * (1.0 + a), std::sin(i * 0.37) * (1.0 + a), 0.002 * (i % 500)});
        flat.push_back({0.013 * (i % 60) + 0.0001 * (i % 7), 0.017 * (i / 60), 0.0});
    }
    jittered.push_back(jittered[5]);
    std::vector<CGVertex> farOut = flat;
    farOut.push_back({1e200, 0.0, 0.0});
    std::vector<CGVertex> crowded = flat;
    crowded.push_back({1e6, 0.0, 0.0});
    for (const auto& points : {jittered, flat, farOut, crowded})
        EXPECT_EQ(spacingOfSample(points, 1), scanned(points));

    // Spread over a subnormal extent the grid's cubes would be zero wide;
    // every distance squares to zero, so all points count as twins.
    std::vector<CGVertex> tiny;
    for (int i = 0; i < 3000; ++i)
        tiny.push_back({5e-324 * (i % 2), 0.0, 0.0});
    EXPECT_EQ(spacingOfSample(tiny, 1), 0.0);
}
