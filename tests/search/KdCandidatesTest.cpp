#include "search/KdCandidates.h"

#include "kdtree/SphereSearch.h"
#include "kdtree/TreeFixture.h"
#include "search/CandidateIndex.h"
#include "search/CandidateSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

namespace {

Nodes gather(const IndexedPoints& r, ReconNode* a, ReconNode* b)
{
    const Edge edge{a, b, 1};
    Nodes out;
    gatherKdCandidates(r.nodes, r.kdTree, edge, out);
    return out;
}

Nodes sorted(Nodes nodes)
{
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

}  // namespace

// Every case below uses the edge from (0, 0, 0) to (2, 0, 0): its length is
// 2 and its midpoint (1, 0, 0), so the first sphere has radius 3 and the
// second radius 4.

TEST(GatherKdCandidates, WithoutATreeFindsNothing)
{
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "2 0 0 0 0 1\n"
                  "1 1 0 0 0 1\n");
    EXPECT_TRUE(gather(r, r.nodes[0], r.nodes[1]).empty());
    EXPECT_EQ(findCandidate(r.nodes, r.kdTree, Edge{r.nodes[0], r.nodes[1], 1}, CGVector{0.0, 1.0, 0.0}, true),
              nullptr);
}

TEST(GatherKdCandidates, AThirdPointInTheFirstSphereEndsTheSearch)
{
    // (1, 3, 0) lies on the first sphere; (1, 0, 3.9) only in the second,
    // which is never asked for.
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "2 0 0 0 0 1\n"
                  "1 3 0 0 0 1\n"
                  "1 0 3.9 0 0 1\n");
    buildIndex(r);
    EXPECT_EQ(sorted(gather(r, r.nodes[0], r.nodes[1])), sorted({r.nodes[0], r.nodes[1], r.nodes[2]}));
}

TEST(GatherKdCandidates, SecondSphereIsTwiceTheEdgeLength)
{
    // (1, 0, -4) is on the second sphere, (1, 0, 4.1) outside it; finding
    // anything there means no fallback to all nodes.
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "2 0 0 0 0 1\n"
                  "1 0 3.9 0 0 1\n"
                  "1 0 -4 0 0 1\n"
                  "1 0 4.1 0 0 1\n");
    buildIndex(r);
    EXPECT_EQ(sorted(gather(r, r.nodes[0], r.nodes[1])), sorted({r.nodes[0], r.nodes[1], r.nodes[2], r.nodes[3]}));
}

TEST(GatherKdCandidates, TwoEmptySpheresFallBackToAllNodesInFileOrder)
{
    IndexedPoints r;
    loadPoints(r, "10 10 10 0 0 1\n"
                  "0 0 0 0 0 1\n"
                  "1 0 4.5 0 0 1\n"
                  "2 0 0 0 0 1\n");
    buildIndex(r);
    EXPECT_EQ(gather(r, r.nodes[1], r.nodes[3]), r.nodes);
}

TEST(GatherKdCandidates, FewerThanTwoPointsIsTakenAsItIs)
{
    // The tree reflects the nodes it was built from; the edge's own ends,
    // added later, are not in it, so the first sphere finds one point or
    // none. Neither count leads to a second sphere or to all nodes.
    IndexedPoints one;
    loadPoints(one, "1 0.5 0 0 0 1\n"
                    "1 0 3.9 0 0 1\n");
    buildIndex(one);
    ReconNode* a = one.addNode(CGVertex{0.0, 0.0, 0.0}, CGVector{});
    ReconNode* b = one.addNode(CGVertex{2.0, 0.0, 0.0}, CGVector{});
    EXPECT_EQ(gather(one, a, b), Nodes{one.nodes[0]});

    IndexedPoints none;
    loadPoints(none, "100 0 0 0 0 1\n");
    buildIndex(none);
    a = none.addNode(CGVertex{0.0, 0.0, 0.0}, CGVector{});
    b = none.addNode(CGVertex{2.0, 0.0, 0.0}, CGVector{});
    EXPECT_TRUE(gather(none, a, b).empty());
}

TEST(GatherKdCandidates, ZeroLengthEdgeFindsOnlyItsOwnPosition)
{
    IndexedPoints r;
    loadPoints(r, "1 1 1 0 0 1\n"
                  "1 1 1 0 0 1\n"
                  "1 1 1 0 0 1\n"
                  "1 1 1.5 0 0 1\n");
    buildIndex(r);
    EXPECT_EQ(sorted(gather(r, r.nodes[0], r.nodes[1])), sorted({r.nodes[0], r.nodes[1], r.nodes[2]}));
    EXPECT_EQ(findCandidate(r.nodes, r.kdTree, Edge{r.nodes[0], r.nodes[1], 1}, CGVector{}, true), nullptr);
}

TEST(GatherKdCandidates, AgreesWithTheLinearScanWhenTheBestNodeIsNear)
{
    // When the node the linear scan picks lies in the first sphere, the
    // sphere's points hold it and everything that scores better.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-10.0, 10.0);
    std::uniform_real_distribution<double> component(-1.0, 1.0);
    IndexedPoints r;
    for (int i = 0; i < 2000; ++i)
        r.addNode(CGVertex{coordinate(random), coordinate(random), coordinate(random)}, CGVector{0.0, 0.0, 1.0});
    buildIndex(r);

    std::uniform_int_distribution<std::size_t> anyNode(0, r.nodes.size() - 1);
    int compared = 0;
    for (int i = 0; i < 2000; ++i) {
        ReconNode* a = r.nodes[anyNode(random)];
        ReconNode* b = r.nodes[anyNode(random)];
        if (a == b)
            continue;
        const Edge edge{a, b, 1};
        const CGVector n = {component(random), component(random), component(random)};
        const ReconNode* linear = findCandidate(r.nodes, r.kdTree, edge, n, false);
        if (linear == nullptr)
            continue;
        const CGVertex& p = a->position;
        const CGVertex& q = b->position;
        const SphereSearch first(CGVertex{(p.x + q.x) * 0.5, (p.y + q.y) * 0.5, (p.z + q.z) * 0.5},
                                 1.5 * std::sqrt(squaredLength(q - p)));
        if (!first.contains(linear))
            continue;
        ++compared;
        EXPECT_EQ(findCandidate(r.nodes, r.kdTree, edge, n, true), linear);
    }
    EXPECT_GT(compared, 100);
}

TEST(KdRun, TenThousandCoincidentPointsFinish)
{
    // Every sphere around a zero-length edge holds all the points; the run
    // must still end, with a consistent mesh.
    IndexedPoints r;
    for (int i = 0; i < 10000; ++i)
        r.addNode(CGVertex{1.0, 2.0, 3.0}, CGVector{0.0, 0.0, 1.0});
    EXPECT_TRUE(r.triangulate(true));
    ASSERT_FALSE(r.index()->tree().empty());
    EXPECT_EQ(findInvariantFault(r), "");
}

TEST(KdRun, GridWrittenSortedByXFinishes)
{
    // Files written in ascending x are common; presorted input must not
    // make the index quadratic.
    const std::string file = testsupport::tempPath("grid_sorted_by_x.xyz");
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    constexpr int kSide = 316;
    for (int i = 0; i < kSide; ++i)
        for (int j = 0; j < kSide; ++j)
            std::fprintf(out, "%d %d.25 0 0 0 1\n", i, j);
    std::fclose(out);

    IndexedPoints r;
    ASSERT_TRUE(testsupport::loadFile(r, file));
    std::remove(file.c_str());
    ASSERT_EQ(r.nodes.size(), static_cast<std::size_t>(kSide * kSide));
    EXPECT_TRUE(r.triangulate(true));
    EXPECT_EQ(findInvariantFault(r), "");
    EXPECT_FALSE(r.triangles.empty());
}

TEST(FindCandidate, EmptySpheresGiveTheLinearScansAnswer)
{
    // An edge between two points much closer to each other than to any
    // other: both spheres hold only its ends, and the KD search must then
    // return exactly what scanning every node in file order returns,
    // however the clouds are scaled, placed or tied. Grid clouds give many
    // equal scores; offset clouds put rounding in play; a few far points sit
    // outside any box the search tries first.
    struct Cloud {
        double scale;
        double offset;
        bool onGrid;
    };
    const Cloud clouds[] = {{10.0, 0.0, false}, {10.0, 0.0, true}, {1e-3, 0.0, false},
                            {5.0, 1e6, false},  {5.0, -3e4, true}, {1e4, 0.0, true}};
    for (const Cloud& cloud : clouds) {
        SCOPED_TRACE(cloud.scale);
        std::mt19937 random(11);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::uniform_int_distribution<int> cell(-6, 6);
        auto pick = [&] { return cloud.offset + cloud.scale * (cloud.onGrid ? cell(random) / 6.0 : unit(random)); };
        IndexedPoints r;
        for (int i = 0; i < 1500; ++i)
            r.addNode(CGVertex{pick(), pick(), pick()}, CGVector{0.0, 0.0, 1.0});
        for (int i = 0; i < 3; ++i)
            r.addNode(CGVertex{cloud.offset + 40.0 * cloud.scale * (i + 1), cloud.offset, cloud.offset}, CGVector{});
        // Each close pair: a point of the cloud and a partner a hair away.
        std::vector<std::pair<ReconNode*, ReconNode*>> pairs;
        for (int i = 0; i < 60; ++i) {
            ReconNode* a = r.nodes[static_cast<std::size_t>(i * 7)];
            const double hair = cloud.scale * 1e-4;
            // On a grid the partner steps along x only, so that pairs of
            // grid points mirrored in y score exactly alike.
            const double sideways = cloud.onGrid ? 0.0 : hair * unit(random);
            pairs.push_back({a, r.addNode(a->position + CGVector{hair, sideways, 0.0}, CGVector{})});
        }
        buildIndex(r);
        // With the buckets, the search for the best of all nodes runs down
        // their boxes instead of growing boxes; the answer must not change.
        LeafBuckets buckets;
        ASSERT_TRUE(buckets.build(r.kdTree));

        int fellBack = 0;
        for (const auto& [a, b] : pairs) {
            for (int k = 0; k < 4; ++k) {
                const Edge edge{a, b, 1};
                // Half the directions keep mirrored points on the same side.
                const CGVector n = {unit(random), k % 2 == 0 ? 0.0 : unit(random), unit(random)};
                Nodes near;
                if (!gatherNearCandidates(r.kdTree, edge, near))
                    continue;
                ++fellBack;
                const ReconNode* linear = findCandidate(r.nodes, r.kdTree, edge, n, false);
                EXPECT_EQ(findCandidate(r.nodes, r.kdTree, edge, n, true), linear);
                EXPECT_EQ(findCandidate(r.nodes, r.kdTree, edge, n, true, &buckets), linear);
            }
        }
        EXPECT_GT(fellBack, 50);
    }
}

// Every point the walk reports from outside the first sphere scores at
// least the floor, as the scan works scores out, on clouds where the
// midpoint's rounding is large against the spacing; a floor relative to
// the edge alone fails far from the origin.
TEST(OutsideScoreFloor, NoPointTheWalkReportsOutsideTheSphereScoresBelowIt)
{
    std::size_t outside = 0;
    for (int kind = 0; kind < kCloudKinds; ++kind) {
        for (unsigned seed = 1; seed <= 6; ++seed) {
            IndexedPoints r;
            addCloud(r, kind, seed);
            r.kdTree.build(r.nodes);
            std::mt19937_64 random(seed);
            Nodes out;
            for (int query = 0; query < 300; ++query) {
                const ReconNode* a = r.nodes[random() % r.nodes.size()];
                const ReconNode* b = r.nodes[random() % r.nodes.size()];
                const double squared = squaredLength(b->position - a->position);
                const SphereSearch sphere(midpoint(a->position, b->position), 1.5 * std::sqrt(squared));
                const double floor = outsideScoreFloor(sphere.centre, sphere.radius, squared);
                out.clear();
                r.kdTree.searchFromRoot(out, sphere);
                for (const ReconNode* c : out) {
                    if (sphere.contains(c))
                        continue;
                    ++outside;
                    const double score =
                        (squaredLength(c->position - a->position) + squaredLength(c->position - b->position)) * 0.5;
                    ASSERT_GE(score, floor) << "kind " << kind << ", seed " << seed;
                }
            }
        }
    }
    EXPECT_GT(outside, 1000u);  // the case is met, not only allowed
}

// Far beyond the rounding's reach the floor is what geometry says: the
// nearest a point outside the sphere can be, plus the quarter square.
TEST(OutsideScoreFloor, IsNearlyExactNearTheOriginAndZeroOutOfRange)
{
    const double floor = outsideScoreFloor(CGVertex{1.0, 0.0, 0.0}, 3.0, 4.0);
    EXPECT_LT(floor, 9.0 + 1.0);
    EXPECT_GT(floor, (9.0 + 1.0) * (1.0 - 1e-8));
    EXPECT_EQ(outsideScoreFloor(CGVertex{1.0, 0.0, 0.0}, 1.5e-101, 1e-202), 0.0);
    EXPECT_EQ(outsideScoreFloor(CGVertex{1e151, 0.0, 0.0}, 3.0, 4.0), 0.0);
    EXPECT_EQ(outsideScoreFloor(CGVertex{1.0, 0.0, 0.0}, 1.5e101, 1e202), 0.0);
    EXPECT_EQ(outsideScoreFloor(CGVertex{1.0, 0.0, 0.0}, 3.0, std::nan("")), 0.0);
}
