#include "kdtree/LeafBuckets.h"

#include "kdtree/SphereSearch.h"
#include "kdtree/TreeFixture.h"
#include "search/CandidateIndex.h"

#include <gtest/gtest.h>

#include <random>

// What the sphere shortcut relies on: against the tree's own query, every
// point it reports inside the sphere is visited, in the same order, and
// every visited point inside both the sphere and its box is one the query
// reports. Points inside the sphere but outside its box (rounding far from
// the origin) may go either way; they make the shortcut walk instead.
TEST(LeafBuckets, VisitEveryPointTheQueryReportsInsideTheSphereInLeafOrder)
{
    for (int kind = 0; kind < kCloudKinds; ++kind) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            IndexedPoints r;
            addCloud(r, kind, seed);
            r.kdTree.build(r.nodes);
            LeafBuckets buckets;
            ASSERT_TRUE(buckets.build(r.kdTree));
            std::mt19937_64 random(seed);
            for (int query = 0; query < 200; ++query) {
                const ReconNode* a = r.nodes[random() % r.nodes.size()];
                const ReconNode* b = r.nodes[random() % r.nodes.size()];
                const SphereSearch sphere(midpoint(a->position, b->position),
                                          1.5 * std::sqrt(squaredLength(b->position - a->position)));
                Nodes walked;
                r.kdTree.searchFromRoot(walked, sphere);
                Nodes inside;
                for (ReconNode* c : walked)
                    if (sphere.contains(c))
                        inside.push_back(c);

                CGVertex low;
                CGVertex high;
                sphere.bounds(low, high);
                Nodes visited;
                buckets.visitBox(low, high, [&](ReconNode* node) {
                    if (!sphere.holds(node->position))
                        return;
                    const CGVertex& p = node->position;
                    const bool inBox =
                        low.x <= p.x && p.x <= high.x && low.y <= p.y && p.y <= high.y && low.z <= p.z && p.z <= high.z;
                    if (inBox || std::find(inside.begin(), inside.end(), node) != inside.end())
                        visited.push_back(node);
                });
                ASSERT_EQ(visited, inside) << "kind " << kind << ", seed " << seed << ", query " << query;
            }
        }
    }
}

// An empty tree leaves the buckets empty, and the search walks.
TEST(LeafBuckets, StayEmptyOverAnEmptyTree)
{
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n1 0 0 0 0 1\n2 0 0 0 0 1\n3 0 0 0 0 1\n"
                  "4 0 0 0 0 1\n5 0 0 0 0 1\n6 0 0 0 0 1\n7 0 0 0 0 1\n");
    r.kdTree.build(r.nodes);
    LeafBuckets buckets;
    EXPECT_TRUE(buckets.build(r.kdTree));
    EXPECT_FALSE(buckets.empty());
    r.kdTree.clear();
    EXPECT_FALSE(buckets.build(r.kdTree));
    EXPECT_TRUE(buckets.empty());
}

// The search passes over a part of the tree by its box and its count of
// open points, so both must stay true while a run closes points: every
// box holds its points, and every count is the points not yet closed.
TEST(LeafBuckets, BoxesHoldTheirPointsAndCountsFollowTheRun)
{
    for (int kind = 0; kind < kCloudKinds; ++kind) {
        Reconstruct r;
        addCloud(r, kind, 7);
        r.triangulate(true);
        const LeafBuckets& buckets = r.index()->buckets();
        ASSERT_FALSE(buckets.empty());
        for (std::uint32_t bucket = 0; bucket < buckets.bucketCount(); ++bucket) {
            const LeafBuckets::Box& box = buckets.box(bucket);
            unsigned open = 0;
            for (std::uint32_t i = buckets.first(bucket); i < buckets.last(bucket); ++i) {
                const CGVertex& p = buckets.entry(i)->position;
                EXPECT_TRUE(box.low[0] <= p.x && p.x <= box.high[0] && box.low[1] <= p.y && p.y <= box.high[1] &&
                            box.low[2] <= p.z && p.z <= box.high[2]);
                open += isClosed(buckets.entry(i)) ? 0 : 1;
            }
            ASSERT_EQ(buckets.open(bucket), open) << "kind " << kind << ", bucket " << bucket;
        }
        // Above the buckets every node is open where a child is, and
        // encloses its two children.
        bool anyClosed = false;
        for (std::uint32_t bucket = 0; bucket < buckets.bucketCount(); ++bucket)
            anyClosed = anyClosed || buckets.open(bucket) < buckets.last(bucket) - buckets.first(bucket);
        for (std::uint32_t h = 0; !buckets.isBucket(h); ++h) {
            EXPECT_EQ(buckets.anyOpenBelow(h), buckets.anyOpenBelow(2 * h + 1) || buckets.anyOpenBelow(2 * h + 2));
            for (int axis = 0; axis < 3; ++axis) {
                EXPECT_LE(buckets.nodeBox(h).low[axis], buckets.nodeBox(2 * h + 1).low[axis]);
                EXPECT_GE(buckets.nodeBox(h).high[axis], buckets.nodeBox(2 * h + 2).high[axis]);
            }
        }
        EXPECT_TRUE(anyClosed) << "kind " << kind << ": the run closed no point";
    }
}
