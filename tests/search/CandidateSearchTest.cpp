#include "mesh/Reconstruct.h"
#include "kdtree/TreeFixture.h"
#include "search/CandidateIndex.h"
#include "search/CandidateSearch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using testsupport::loadPoints;

namespace {

// The edge (0,0,0) -> (2,0,0) with a triangle already on it towards -y
// (apex at (1,-1,0)), so the outward direction is +y.
class CandidateSearch : public testing::Test {
protected:
    void SetUp() override
    {
        loadPoints(r, "0 0 0 0 0 1\n"
                      "2 0 0 0 0 1\n"
                      "1 -1 0 0 0 1\n");
        a = r.nodes[0];
        b = r.nodes[1];
        r.addTriangle(a, b, r.nodes[2]);
        edge = findEdge(a, b);
    }

    ReconNode* add(double x, double y, double z) { return r.addNode({x, y, z}, {0, 0, 1}); }
    ReconNode* search(const CGVector& n = kUp) { return findCandidate(r.nodes, r.kdTree, *edge, n, false); }

    static constexpr CGVector kUp = {0, 1, 0};
    IndexedPoints r;
    ReconNode *a, *b;
    Edge* edge;
};

}  // namespace

TEST_F(CandidateSearch, WorkedExample)
{
    ReconNode* behind = add(1, -1, 0);
    ReconNode* onPlaneButFlat = add(3, 0, 0);  // n.m = 0 passes, but zero area
    ReconNode* good = add(1, 1, 0);
    EXPECT_EQ(search(), good);
    (void)behind;
    (void)onPlaneButFlat;
}

TEST_F(CandidateSearch, OnlyTheEndpointsAndTheApexMeansNothing)
{
    // The endpoints are in the list but never returned; the apex is behind.
    EXPECT_EQ(search(), nullptr);
}

TEST_F(CandidateSearch, CandidateOnThePlaneIsEligibleOneJustBehindIsNot)
{
    ReconNode* behind = add(1, -1e-9, 5);
    EXPECT_EQ(search(), nullptr);
    ReconNode* onPlane = add(1, 0, 5);
    EXPECT_EQ(search(), onPlane);
    (void)behind;
}

TEST_F(CandidateSearch, EqualScoresGoToTheEarlierNode)
{
    ReconNode* first = add(1, 1, 0);
    add(1, 0, 1);  // same distance from the midpoint
    EXPECT_EQ(search(), first);
}

TEST_F(CandidateSearch, RejectedNearNodeDoesNotBlockAFartherOne)
{
    ReconNode* near = add(1, 0.5, 0);
    ReconNode* far = add(1, 3, 0);
    // Make the near node closed: a tetrahedron around it.
    ReconNode* p = add(10, 10, 0);
    ReconNode* q = add(11, 10, 0);
    ReconNode* s = add(10, 11, 0);
    r.addTriangle(near, p, q);
    r.addTriangle(near, p, s);
    r.addTriangle(near, q, s);
    r.addTriangle(p, q, s);
    ASSERT_TRUE(isClosed(near));
    EXPECT_EQ(search(), far);
}

TEST_F(CandidateSearch, FullSideFromAnEndpointIsSkipped)
{
    ReconNode* near = add(1, 0.5, 0);
    ReconNode* far = add(1, 3, 0);
    ReconNode* elsewhere = add(-5, -5, 0);
    ReconNode* other = add(-6, -5, 0);
    r.addTriangle(a, near, elsewhere);
    r.addTriangle(a, near, other);  // a -> near now carries two triangles
    ASSERT_FALSE(isClosed(near));
    EXPECT_EQ(search(), far);
}

TEST(FindCandidate, ScoreOfOneE300OrMoreIsNeverAccepted)
{
    // An edge long enough that the area test passes far out (its product
    // even overflows to infinity), so only the score can refuse.
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n1e150 0 0 0 0 1\n5e149 -1e150 0 0 0 1\n");
    r.addTriangle(r.nodes[0], r.nodes[1], r.nodes[2]);
    const Edge& edge = *findEdge(r.nodes[0], r.nodes[1]);
    r.addNode({5e149, 1e150, 0}, {0, 0, 1});  // score 1.25e300
    EXPECT_EQ(findCandidate(r.nodes, r.kdTree, edge, {0, 1, 0}, false), nullptr);
    ReconNode* nearer = r.addNode({5e149, 8e149, 0}, {0, 0, 1});  // score 8.9e299
    EXPECT_EQ(findCandidate(r.nodes, r.kdTree, edge, {0, 1, 0}, false), nearer);
}

TEST_F(CandidateSearch, ZeroDirectionLetsEveryCandidateThrough)
{
    ReconNode* behind = add(1, -0.5, 0);
    EXPECT_EQ(search({0, 0, 0}), behind);
}

TEST_F(CandidateSearch, NanDirectionFindsNothing)
{
    add(1, 1, 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(search({nan, nan, nan}), nullptr);
}

TEST_F(CandidateSearch, CoincidentWithAnEndpointIsRejected)
{
    add(0, 0, 0);  // another node at a's place: zero area
    EXPECT_EQ(search(), nullptr);
}

TEST_F(CandidateSearch, ThreeOpenSidesOutwardAtAnEndpointCrowdIt)
{
    ReconNode* good = add(1, 1, 0);
    // a's open sides so far: a -> b (along the edge, n.d = 0 counts) and
    // a -> apex (backward, does not). One more outward side makes two.
    r.addTriangle(a, add(-1, 2, 0), add(-1, -2, 0));
    EXPECT_FALSE(isCrowded(a, kUp));
    EXPECT_EQ(search(), good);
    // A third one tips it over.
    r.addTriangle(a, add(-3, 3, 0), add(-3, -3, 0));
    EXPECT_TRUE(isCrowded(a, kUp));
    EXPECT_EQ(search(), nullptr);
}

TEST(IsCrowded, FullSidesAndBackwardSidesDoNotCount)
{
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n1 -1 0 0 0 1\n-1 -1 0 0 0 1\n0 -2 0 0 0 1\n");
    ReconNode** n = r.nodes.data();
    r.addTriangle(n[0], n[1], n[2]);
    r.addTriangle(n[0], n[1], n[3]);
    // n0 -> n1 is full; n0 -> n2 and n0 -> n3 point away from +y.
    EXPECT_FALSE(isCrowded(n[0], {0, 1, 0}));
    // With a zero direction every open side counts: still only two.
    EXPECT_FALSE(isCrowded(n[0], {0, 0, 0}));
}

TEST(FindCandidate, EdgeWithCoincidentEndsFindsNothing)
{
    IndexedPoints r;
    loadPoints(r, "1 1 1 0 0 1\n1 1 1 0 0 1\n0 0 0 0 0 1\n5 5 5 0 0 1\n");
    r.addTriangle(r.nodes[0], r.nodes[1], r.nodes[2]);
    EXPECT_EQ(findCandidate(r.nodes, r.kdTree, *findEdge(r.nodes[0], r.nodes[1]), {0, 0, 0}, false), nullptr);
}

// The sphere shortcut picks a third corner from the points inside the
// first query's sphere without walking the tree, and must pick exactly
// what the walk's list would give, in every state a run passes through:
// whole runs with and without it make the same faces in the same order.
TEST(FindCandidate, ShortcutMakesTheSameSurfacesAsTheWalk)
{
    for (int kind = 0; kind < kCloudKinds; ++kind) {
        for (unsigned seed = 1; seed <= 12; ++seed) {
            Reconstruct fast;
            Reconstruct walked;
            addCloud(fast, kind, seed);
            addCloud(walked, kind, seed);
            walked.sphereShortcut = false;
            fast.triangulate(true);
            walked.triangulate(true);
            ASSERT_FALSE(fast.index()->buckets().empty());
            ASSERT_TRUE(walked.index()->buckets().empty());
            ASSERT_EQ(fast.surface().faces, walked.surface().faces) << "kind " << kind << ", seed " << seed;
        }
    }
}
