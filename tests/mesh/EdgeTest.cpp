#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Three free points of a triangle, normals up.
class EdgeBookkeeping : public testing::Test {
protected:
    void SetUp() override
    {
        testsupport::loadPoints(r, "0 0 0 0 0 1\n"
                                   "1 0 0 0 0 1\n"
                                   "0 1 0 0 0 1\n"
                                   "1 1 0 0 0 1\n");
        a = r.nodes[0];
        b = r.nodes[1];
        c = r.nodes[2];
        d = r.nodes[3];
    }

    Reconstruct r;
    ReconNode *a, *b, *c, *d;
};

}  // namespace

TEST_F(EdgeBookkeeping, FirstTriangleCountsSixSidesOnceAndPushesTwo)
{
    r.addTriangle(a, b, c);
    for (ReconNode* n : {a, b, c}) {
        ASSERT_EQ(n->edges.size(), 2u);
        for (const Edge* e : n->edges)
            EXPECT_EQ(e->triangleCount, 1);
    }
    ASSERT_EQ(r.front.size(), 2u);
    EXPECT_EQ(r.front[0], findEdge(a, c));
    EXPECT_EQ(r.front[1], findEdge(b, c));
    EXPECT_EQ(r.triangles.size(), 1u);
}

TEST_F(EdgeBookkeeping, SecondTriangleOnASideFinishesIt)
{
    r.addTriangle(a, b, c);
    r.addTriangle(a, b, d);
    EXPECT_EQ(findEdge(a, b)->triangleCount, 2);
    EXPECT_EQ(findEdge(b, a)->triangleCount, 2);
    for (const Edge* e : {findEdge(a, d), findEdge(d, a), findEdge(b, d), findEdge(d, b)})
        EXPECT_EQ(e->triangleCount, 1);
    // a third registration never counts past two
    r.registerEdge(a, b);
    EXPECT_EQ(findEdge(a, b)->triangleCount, 2);
}

TEST_F(EdgeBookkeeping, ClosedAndConnectable)
{
    EXPECT_FALSE(isClosed(a));  // a node without edges is not closed
    EXPECT_TRUE(canConnect(a, b));
    r.addTriangle(a, b, c);
    r.addTriangle(b, a, d);
    r.addTriangle(a, c, d);  // a's sides to b, c and d now carry two triangles each
    EXPECT_TRUE(isClosed(a));
    EXPECT_FALSE(canConnect(d, a));  // a is closed, with or without an edge d -> a
    EXPECT_FALSE(canConnect(b, a));
    // a closed start does not matter, only the end and the side a -> end
    EXPECT_FALSE(canConnect(a, b));  // a -> b is full
    ReconNode* e = r.addNode({5, 5, 5}, {0, 0, 1});
    EXPECT_TRUE(canConnect(a, e));
}

TEST_F(EdgeBookkeeping, CornersFollowTheMeanNormal)
{
    // Counter-clockwise seen from +z: kept as given.
    r.addTriangle(a, b, c);
    EXPECT_EQ(r.triangles[0].source[1], b->index);
    // Clockwise seen from +z: stored as a, c, b.
    r.addTriangle(a, c, d);
    EXPECT_EQ(r.triangles[1].source[0], a->index);
    EXPECT_EQ(r.triangles[1].source[1], d->index);
    EXPECT_EQ(r.triangles[1].source[2], c->index);
    for (const Triangle& t : r.triangles) {
        const CGVector u = r.nodes[t.source[1]]->position - r.nodes[t.source[0]]->position;
        const CGVector w = r.nodes[t.source[2]]->position - r.nodes[t.source[0]]->position;
        EXPECT_GT(u.x * w.y - u.y * w.x, 0.0);
    }
}

TEST(AddTriangle, TiesKeepTheGivenOrder)
{
    // Collinear corners, and normals that cancel: the dot product is 0.
    Reconstruct r;
    testsupport::loadPoints(r, "0 0 0 0 0 1\n1 1 1 0 0 1\n2 2 2 0 0 1\n"
                               "0 0 0 1 0 0\n1 0 0 -1 0 0\n0 1 0 0 0 0\n");
    r.addTriangle(r.nodes[0], r.nodes[1], r.nodes[2]);
    r.addTriangle(r.nodes[3], r.nodes[4], r.nodes[5]);
    EXPECT_EQ(r.triangles[0].source[1], 1u);
    EXPECT_EQ(r.triangles[1].source[1], 4u);
}

TEST(EdgeLookup, ManySidesAtOneNodeStillFindTheRightEdge)
{
    // Past a few dozen sides a node switches to a lookup table; it must keep
    // answering exactly as the plain scan does.
    Reconstruct r;
    ReconNode* hub = r.addNode({0, 0, 0}, {0, 0, 1});
    std::vector<ReconNode*> spokes;
    for (int i = 0; i < 100; ++i)
        spokes.push_back(r.addNode({double(i), 1, 0}, {0, 0, 1}));
    for (int i = 0; i < 100; i += 2)
        r.registerEdge(hub, spokes[i]);
    // The list grew several times on the way; it keeps creation order.
    ASSERT_EQ(hub->edges.size(), 50u);
    for (std::size_t k = 0; k < hub->edges.size(); ++k)
        EXPECT_EQ(hub->edges[k]->to, spokes[2 * k]);
    for (int i = 0; i < 100; ++i) {
        Edge* e = findEdge(hub, spokes[i]);
        if (i % 2 == 0) {
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->to, spokes[i]);
        } else {
            EXPECT_EQ(e, nullptr);
        }
    }
    for (int i = 0; i < 100; i += 2)
        r.registerEdge(hub, spokes[i]);
    EXPECT_TRUE(isClosed(hub));
    r.registerEdge(hub, spokes[1]);
    EXPECT_FALSE(isClosed(hub));
}

// A node's records sit in a first run of six and later runs of two; at
// every length the walk over the list and the lookup by place must agree,
// including the lengths that end exactly at a run's end.
TEST(EdgeLookup, EveryLengthWalksInCreationOrder)
{
    Reconstruct r;
    ReconNode* centre = r.addNode({0, 0, 0}, {0, 0, 1});
    std::vector<ReconNode*> spokes;
    for (int i = 0; i < 40; ++i) {
        spokes.push_back(r.addNode({double(i), 1, 0}, {0, 0, 1}));
        r.registerEdge(centre, spokes.back());
        std::size_t k = 0;
        for (Edge* e : centre->edges) {
            ASSERT_EQ(e, centre->edges[k]);
            ASSERT_EQ(e->to, spokes[k]);
            ++k;
        }
        ASSERT_EQ(k, spokes.size());
        ASSERT_EQ(findEdge(centre, spokes.front()), centre->edges[0]);
        ASSERT_EQ(findEdge(centre, spokes.back()), centre->edges.back());
    }
}
