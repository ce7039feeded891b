#include "kdtree/KDTree.h"

#include "kdtree/SphereSearch.h"
#include "kdtree/TreeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

namespace {

const CGVertex kLow = {-1e300, -1e300, -1e300};
const CGVertex kHigh = {1e300, 1e300, 1e300};

Nodes query(const Tree& tree, const CGVertex& centre, double radius)
{
    const SphereSearch sphere(centre, radius);
    Nodes out;
    tree.searchFromRoot(out, sphere);
    return out;
}

}  // namespace

TEST(RangeQuery, SingleLeafReportsOnlyAContainedPoint)
{
    Reconstruct r;
    loadPoints(r, "1 1 1 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    EXPECT_EQ(query(*tree, CGVertex{1.0, 1.0, 2.0}, 1.0), Nodes{r.nodes[0]});
    EXPECT_TRUE(query(*tree, CGVertex{1.0, 1.0, 2.5}, 1.0).empty());
}

TEST(RangeQuery, FindsPointsLyingOnASplitPlane)
{
    // The root splits at x = 1 and the sphere's box starts exactly there;
    // (1, 0, 0) is on the sphere's surface and must still be found.
    Reconstruct r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "1 0 0 0 0 1\n"
                  "2 0 0 0 0 1\n"
                  "3 0 0 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const auto mirror = reference::mirrorOf(*tree);
    const BinaryTree* root = mirror.get();
    ASSERT_EQ(planeOf(root).value, 1.0);
    EXPECT_EQ(query(*tree, CGVertex{2.0, 0.0, 0.0}, 1.0), (Nodes{r.nodes[1], r.nodes[2], r.nodes[3]}));
}

TEST(RangeQuery, ReportsInLeafOrder)
{
    Reconstruct r;
    loadPoints(r, "4 0 0 0 0 1\n"
                  "2 0 0 0 0 1\n"
                  "3 0 0 0 0 1\n"
                  "1 0 0 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    EXPECT_EQ(query(*tree, CGVertex{2.5, 0.0, 0.0}, 2.0), (Nodes{r.nodes[3], r.nodes[1], r.nodes[2], r.nodes[0]}));
}

TEST(RangeQuery, OnlyAppendsToTheOutput)
{
    Reconstruct r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "1 0 0 0 0 1\n"
                  "5 0 0 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const SphereSearch empty(CGVertex{10.0, 10.0, 10.0}, 1.0);
    const SphereSearch nearOrigin(CGVertex{0.0, 0.0, 0.0}, 1.0);
    Nodes out = {r.nodes[2]};
    tree->searchFromRoot(out, empty);
    EXPECT_EQ(out, Nodes{r.nodes[2]});
    tree->searchFromRoot(out, nearOrigin);
    tree->searchFromRoot(out, nearOrigin);
    EXPECT_EQ(out, (Nodes{r.nodes[2], r.nodes[0], r.nodes[1], r.nodes[0], r.nodes[1]}));
}

TEST(RangeQuery, InvertedBoxFindsNothing)
{
    // A box whose high corner lies below its low corner holds nothing, even
    // where one of its corners alone would reach across the split plane.
    class Inverted {
    public:
        Inverted(double low, double high) : low_(low), high_(high) {}
        bool contains(const ReconNode*) const { return true; }
        void bounds(CGVertex& min, CGVertex& max) const
        {
            min = {low_, low_, low_};
            max = {high_, high_, high_};
        }

    private:
        double low_;
        double high_;
    };
    Reconstruct r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "0.5 0 0 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    for (const Inverted& range : {Inverted(-0.2, -0.3), Inverted(0.3, 0.2)}) {
        Nodes out;
        tree->searchFromRoot(out, range);
        EXPECT_TRUE(out.empty());
    }
}

TEST(RangeQuery, RegionInsideTheBoxIsReportedWhole)
{
    // The region's corners lie in the box but outside the sphere: they are
    // reported all the same, without a test of their own.
    Reconstruct r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "0.5 0.5 0.5 0 0 1\n"
                  "1 1 1 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const auto mirror = reference::mirrorOf(*tree);
    const BinaryTree* root = mirror.get();
    const SphereSearch sphere(CGVertex{0.5, 0.5, 0.5}, 0.75);
    Nodes out;
    reference::rangeSearch(out, root, CGVertex{0.0, 0.0, 0.0}, CGVertex{1.0, 1.0, 1.0}, &sphere);
    EXPECT_EQ(out, r.nodes);

    // With the region's low x on the box's edge the test fails, and the
    // leaves are tested one by one.
    out.clear();
    reference::rangeSearch(out, root, CGVertex{-0.25, 0.0, 0.0}, CGVertex{1.0, 1.0, 1.0}, &sphere);
    EXPECT_EQ(out, (Nodes{r.nodes[1], r.nodes[2]}));
}

TEST(RangeQuery, InsideBoxTestKeepsItsStrictnessPerSide)
{
    // The box is [-4, 4] on every axis. The left leaf holds p, outside the
    // sphere but inside the box, so p is reported exactly when its region
    // passes the inside-box test. Each case puts one side of that region
    // on the box's edge.
    struct Case {
        const char* side;
        CGVertex low;
        CGVertex high;
        double px;
        bool reported;
    };
    const Case cases[] = {
        {"none on the edge", {-3.5, -3.5, -3.5}, {4.5, 3.5, 3.5}, 3.0, true},
        {"low x (strict)", {-4.0, -3.5, -3.5}, {4.5, 3.5, 3.5}, 3.0, false},
        {"low y", {-3.5, -4.0, -3.5}, {4.5, 3.5, 3.5}, 3.0, true},
        {"low z", {-3.5, -3.5, -4.0}, {4.5, 3.5, 3.5}, 3.0, true},
        {"high x", {-3.5, -3.5, -3.5}, {4.5, 3.5, 3.5}, 4.0, true},
        {"high y (strict)", {-3.5, -3.5, -3.5}, {4.5, 4.0, 3.5}, 3.0, false},
        {"high z (strict)", {-3.5, -3.5, -3.5}, {4.5, 3.5, 4.0}, 3.0, false},
    };
    const SphereSearch sphere(CGVertex{0.0, 0.0, 0.0}, 4.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.side);
        Reconstruct r;
        ReconNode* p = r.addNode(CGVertex{c.px, 3.0, 3.0}, CGVector{});
        r.addNode(CGVertex{4.5, 0.0, 0.0}, CGVector{});
        const auto tree = treeOver(r.nodes);
        const auto mirror = reference::mirrorOf(*tree);
        const BinaryTree* root = mirror.get();
        ASSERT_EQ(pointOf(root->left), p);
        Nodes out;
        reference::rangeSearch(out, root, c.low, c.high, &sphere);
        EXPECT_EQ(out, c.reported ? Nodes{p} : Nodes{});
    }
}

TEST(RangeQuery, AgreesWithBruteForceOnRandomClouds)
{
    // Half the clouds sit on a coarse grid, so points share coordinates with
    // split planes and lie exactly on sphere surfaces.
    for (unsigned seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        const bool onGrid = seed % 2 == 0;
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> anywhere(-5.0, 5.0);
        std::uniform_int_distribution<int> cell(-10, 10);
        auto pick = [&] { return onGrid ? cell(random) * 0.5 : anywhere(random); };

        Reconstruct r;
        for (int i = 0; i < 600; ++i)
            r.addNode(CGVertex{pick(), pick(), pick()}, CGVector{});
        const auto tree = treeOver(r.nodes);
        const auto mirror = reference::mirrorOf(*tree);
        const BinaryTree* root = mirror.get();
        std::map<const ReconNode*, std::size_t> leafPlace;
        for (const ReconNode* n : leavesOf(root))
            leafPlace.emplace(n, leafPlace.size());

        for (int q = 0; q < 100; ++q) {
            const SphereSearch sphere(CGVertex{pick(), pick(), pick()}, std::abs(pick()) * 0.5);
            CGVertex boxLow;
            CGVertex boxHigh;
            sphere.bounds(boxLow, boxHigh);
            Nodes out;
            tree->searchFromRoot(out, sphere);

            const std::set<const ReconNode*> found(out.begin(), out.end());
            EXPECT_EQ(found.size(), out.size()) << "a point was reported twice";
            for (const ReconNode* n : r.nodes) {
                if (sphere.contains(n)) {
                    EXPECT_TRUE(found.count(n)) << "missed a point inside the sphere";
                }
            }
            for (const ReconNode* n : out) {
                const CGVertex& p = n->position;
                EXPECT_TRUE(p.x >= boxLow.x && p.y >= boxLow.y && p.z >= boxLow.z && p.x <= boxHigh.x &&
                            p.y <= boxHigh.y && p.z <= boxHigh.z)
                    << "reported a point outside the box";
            }
            for (std::size_t i = 1; i < out.size(); ++i)
                EXPECT_LT(leafPlace[out[i - 1]], leafPlace[out[i]]) << "not in leaf order";
        }
    }
}

TEST(SearchFromRoot, AppendsExactlyWhatTheSearchFromTheRootAppends)
{
    // A walk of queries that mostly step a little, sometimes jump, grow or
    // shrink, and sometimes are odd (radius 0, huge, not a number), on a
    // grid cloud whose split planes the boxes often touch exactly. Each
    // must give the very list a search from the root over all of space
    // gives, in the same order.
    std::mt19937 random(3);
    std::uniform_int_distribution<int> cell(-12, 12);
    std::uniform_real_distribution<double> step(-0.4, 0.4);
    std::uniform_int_distribution<int> kind(0, 19);
    Reconstruct r;
    for (int i = 0; i < 3000; ++i)
        r.addNode(CGVertex{cell(random) * 0.25, cell(random) * 0.25, cell(random) * 0.25}, CGVector{});
    Tree tree;
    tree.build(r.nodes);
    const auto mirror = reference::mirrorOf(tree);

    CGVertex centre = {0.0, 0.0, 0.0};
    double radius = 0.5;
    for (int q = 0; q < 3000; ++q) {
        switch (kind(random)) {
        case 0: centre = {cell(random) * 0.25, cell(random) * 0.25, cell(random) * 0.25}; break;
        case 1: radius = cell(random) * 0.125 + 1.5; break;
        case 2: radius = 0.0; break;
        case 3: radius = 1e301; break;
        case 4: radius = std::nan(""); break;
        default:
            centre = {centre.x + step(random), centre.y + step(random), centre.z + step(random)};
            if (!(radius >= 0.0 && radius < 10.0))
                radius = 0.5;
        }
        const SphereSearch sphere(centre, radius);
        Nodes fromRoot;
        reference::rangeSearch(fromRoot, mirror.get(), kLow, kHigh, &sphere);
        Nodes fromPath = {r.nodes[0]};  // appended to, never cleared
        tree.searchFromRoot(fromPath, sphere);
        fromRoot.insert(fromRoot.begin(), r.nodes[0]);
        ASSERT_EQ(fromPath, fromRoot) << "query " << q << " at " << centre.x << ' ' << centre.y << ' ' << centre.z
                                      << " radius " << radius;
    }
}
