#include "kdtree/LeafBuckets.h"

#include "kdtree/SphereSearch.h"
#include "kdtree/TreeFixture.h"

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
            r.kdTree.root = r.kdTree.buildOver(r.nodes);
            LeafBuckets buckets;
            ASSERT_TRUE(buckets.build(r.kdTree.root, r.nodes.size()));
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

// A tree the buckets cannot copy leaves them empty, and the search walks.
TEST(LeafBuckets, RefuseATreeOfAnotherShape)
{
    IndexedPoints r;
    loadPoints(r, "0 0 0 0 0 1\n1 0 0 0 0 1\n2 0 0 0 0 1\n3 0 0 0 0 1\n"
                  "4 0 0 0 0 1\n5 0 0 0 0 1\n6 0 0 0 0 1\n7 0 0 0 0 1\n");
    Tree tree;
    tree.root = tree.buildOver(r.nodes);
    LeafBuckets buckets;
    EXPECT_TRUE(buckets.build(tree.root, 8));
    EXPECT_FALSE(buckets.empty());
    // Split first on y: the axes no longer cycle from x at the root.
    Tree other;
    Nodes xs = r.nodes, ys = r.nodes, zs = r.nodes;
    reference::sortByAxis(xs, 0, 7, 0);
    reference::sortByAxis(ys, 0, 7, 1);
    reference::sortByAxis(zs, 0, 7, 2);
    other.root = reference::buildTree(other, xs, ys, zs, 1);
    EXPECT_FALSE(buckets.build(other.root, 8));
    EXPECT_TRUE(buckets.empty());
}
