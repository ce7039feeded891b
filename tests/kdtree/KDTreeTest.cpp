#include "kdtree/TreeFixture.h"

#include "kdtree/SphereSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <tuple>

namespace {

double coordinate(const ReconNode* n, std::uint8_t axis)
{
    return axis == 0 ? n->position.x : axis == 1 ? n->position.y : n->position.z;
}

// Walks the whole tree and checks what every inner node promises: the axis
// cycles with depth, the left side holds ceil(n/2) points up to and
// including the median, the right side the rest, and the plane sits at the
// median's coordinate.
void expectWellFormed(const BinaryTree* node, std::size_t depth)
{
    if (node->isLeaf())
        return;
    ASSERT_NE(node->left, nullptr);
    ASSERT_NE(node->right, nullptr);
    EXPECT_EQ(node->left->parent, node);
    EXPECT_EQ(node->right->parent, node);

    const CGSplane& plane = planeOf(node);
    EXPECT_EQ(plane.axis, depth % 3);
    const Nodes left = leavesOf(node->left);
    const Nodes right = leavesOf(node->right);
    const std::size_t n = left.size() + right.size();
    EXPECT_EQ(left.size(), (n + 1) / 2);
    EXPECT_EQ(right.size(), n / 2);

    const ReconNode* median = left.front();
    for (const ReconNode* p : left)
        if (reference::compareOnAxis(median, p, plane.axis, reference::kLessOrEqual))
            median = p;
    EXPECT_EQ(plane.value, coordinate(median, plane.axis));
    for (const ReconNode* p : right)
        EXPECT_FALSE(reference::compareOnAxis(p, median, plane.axis, reference::kLessOrEqual));

    expectWellFormed(node->left, depth + 1);
    expectWellFormed(node->right, depth + 1);
}

void expectEveryPointOnce(const BinaryTree* root, Nodes nodes)
{
    Nodes leaves = leavesOf(root);
    std::sort(leaves.begin(), leaves.end());
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(leaves, nodes);
}

// Coordinates on a coarse grid, so that many points share a coordinate
// with a split plane or share their whole position.
void addGridCloud(Reconstruct& r, std::size_t count, unsigned seed, int cells)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> cell(0, cells - 1);
    for (std::size_t i = 0; i < count; ++i)
        r.addNode(CGVertex{cell(random) * 0.5, cell(random) * 0.5, cell(random) * 0.5}, CGVector{0.0, 0.0, 1.0});
}

// Same shape, same planes, same points in the same leaves.
void expectSameTree(const BinaryTree* a, const BinaryTree* b)
{
    ASSERT_EQ(a->isLeaf(), b->isLeaf());
    if (a->isLeaf()) {
        EXPECT_EQ(pointOf(a), pointOf(b));
        return;
    }
    EXPECT_EQ(planeOf(a).axis, planeOf(b).axis);
    EXPECT_EQ(planeOf(a).value, planeOf(b).value);
    expectSameTree(a->left, b->left);
    expectSameTree(a->right, b->right);
}

}  // namespace

TEST(BuildOver, MakesTheTreeOfTheThreeSortedLists)
{
    // The build by selection must give, node for node, the tree the sorted
    // copies give: on scattered points, on coarse grids full of ties, on
    // repeated points, on points written in reverse order, and on the
    // smallest cases.
    for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 17u, 1000u}) {
        for (int kind = 0; kind < 4; ++kind) {
            SCOPED_TRACE(testing::Message() << n << " points, kind " << kind);
            Reconstruct r;
            std::mt19937 random(static_cast<unsigned>(n) + 31u * static_cast<unsigned>(kind));
            std::uniform_real_distribution<double> anywhere(-1.0, 1.0);
            for (std::size_t i = 0; i < n; ++i) {
                if (kind == 0)
                    r.addNode(CGVertex{anywhere(random), anywhere(random), anywhere(random)}, CGVector{});
                else if (kind == 1)
                    addGridCloud(r, 1, static_cast<unsigned>(i), 3);
                else if (kind == 2)
                    r.addNode(CGVertex{-0.0, 0.0, i % 2 == 0 ? 1.0 : -0.0}, CGVector{});
                else
                    r.addNode(CGVertex{static_cast<double>(n - i), static_cast<double>(i % 3), 0.0}, CGVector{});
            }
            const auto sorted = sortedListsTree(r.nodes);
            const auto tree = treeOver(r.nodes);
            expectSameTree(reference::mirrorOf(*tree).get(), sorted.get());
        }
    }
}

TEST(BuildOver, TwoThreadsBuildTheSameTree)
{
    // The sides of the root are built at once on two threads; the splits
    // and the leaf order must be those of one thread, ties and all.
    Reconstruct r;
    addGridCloud(r, 40000, 9, 20);
    const auto one = treeOver(r.nodes, 1);
    const auto two = treeOver(r.nodes, 2);
    EXPECT_EQ(two->leaves(), one->leaves());
    std::vector<Tree::Node> pending = {one->root()};
    while (!pending.empty()) {
        const Tree::Node node = pending.back();
        pending.pop_back();
        if (node.isLeaf())
            continue;
        ASSERT_EQ(two->plane(node).value, one->plane(node).value);
        pending.push_back(node.left());
        pending.push_back(node.right());
    }
}

TEST(CompareOnAxis, YTiesBreakOnXBeforeZ)
{
    // Ordered by z, b would come first; x must decide.
    Reconstruct r;
    loadPoints(r, "1 5 9 0 0 1\n"
                  "2 5 0 0 0 1\n");
    EXPECT_TRUE(reference::compareOnAxis(r.nodes[0], r.nodes[1], 1, reference::kLessOrEqual));
    EXPECT_FALSE(reference::compareOnAxis(r.nodes[0], r.nodes[1], 1, reference::kGreaterOrEqual));
}

TEST(CompareOnAxis, ZTiesBreakOnXBeforeY)
{
    Reconstruct r;
    loadPoints(r, "1 9 5 0 0 1\n"
                  "2 0 5 0 0 1\n");
    EXPECT_TRUE(reference::compareOnAxis(r.nodes[0], r.nodes[1], 2, reference::kLessOrEqual));
    EXPECT_FALSE(reference::compareOnAxis(r.nodes[0], r.nodes[1], 2, reference::kGreaterOrEqual));
}

TEST(CompareOnAxis, SamePositionIsOrderedByIndex)
{
    // Scans repeat points; the file order keeps them apart.
    Reconstruct r;
    loadPoints(r, "3 3 3 0 0 1\n"
                  "3 3 3 0 0 1\n");
    for (std::uint8_t axis = 0; axis < 3; ++axis) {
        EXPECT_TRUE(reference::compareOnAxis(r.nodes[0], r.nodes[1], axis, reference::kLessOrEqual));
        EXPECT_FALSE(reference::compareOnAxis(r.nodes[1], r.nodes[0], axis, reference::kLessOrEqual));
        EXPECT_TRUE(reference::compareOnAxis(r.nodes[1], r.nodes[1], axis, reference::kLessOrEqual));
        EXPECT_TRUE(reference::compareOnAxis(r.nodes[1], r.nodes[1], axis, reference::kGreaterOrEqual));
    }
}

TEST(SortByAxis, SortsSortedReversedAndEqualLists)
{
    Reconstruct r;
    for (int i = 0; i < 2000; ++i)
        r.addNode(CGVertex{static_cast<double>(i / 2), static_cast<double>(-i), 0.0}, CGVector{});
    for (int i = 0; i < 2000; ++i)
        r.addNode(CGVertex{7.0, 7.0, 7.0}, CGVector{});

    const auto keyLess = [](const ReconNode* a, const ReconNode* b) {
        return std::make_tuple(a->position.x, a->position.y, a->position.z, a->index) <
               std::make_tuple(b->position.x, b->position.y, b->position.z, b->index);
    };
    Nodes expected = r.nodes;
    std::sort(expected.begin(), expected.end(), keyLess);

    Nodes ascending = expected;
    Nodes descending(expected.rbegin(), expected.rend());
    Nodes inFileOrder = r.nodes;
    for (Nodes* list : {&ascending, &descending, &inFileOrder}) {
        reference::sortByAxis(*list, 0, list->size() - 1, 0);
        EXPECT_EQ(*list, expected);
    }

    Nodes equal(r.nodes.begin() + 2000, r.nodes.end());
    const Nodes byIndex = equal;
    std::reverse(equal.begin(), equal.end());
    reference::sortByAxis(equal, 0, equal.size() - 1, 2);
    EXPECT_EQ(equal, byIndex);
}

TEST(SortByAxis, OrdersSignsZerosAndMagnitudesOnEveryAxis)
{
    // Negative numbers, both zeros, tiny and huge magnitudes and repeated
    // coordinates must come out in the order the comparisons give.
    const double values[] = {-1e300, -2.5, -1.0, -1e-300, -0.0, 0.0, 4.9e-324, 1e-300, 0.5, 1.0, 2.5, 3e200};
    std::mt19937 random(5);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(values) - 1);
    Reconstruct r;
    for (int i = 0; i < 3000; ++i)
        r.addNode(CGVertex{values[pick(random)], values[pick(random)], values[pick(random)]}, CGVector{});

    for (std::uint8_t axis = 0; axis < 3; ++axis) {
        Nodes expected = r.nodes;
        std::sort(expected.begin(), expected.end(), [axis](const ReconNode* a, const ReconNode* b) {
            return reference::compareOnAxis(a, b, axis, reference::kLessOrEqual) &&
                   !reference::compareOnAxis(b, a, axis, reference::kLessOrEqual);
        });
        Nodes list = r.nodes;
        reference::sortByAxis(list, 0, list.size() - 1, axis);
        EXPECT_EQ(list, expected) << "axis " << int(axis);
    }
}

TEST(SortByAxis, LeavesEntriesOutsideTheRangeAlone)
{
    Reconstruct r;
    loadPoints(r, "9 0 0 0 0 1\n"
                  "3 0 0 0 0 1\n"
                  "2 0 0 0 0 1\n"
                  "1 0 0 0 0 1\n"
                  "0 0 0 0 0 1\n");
    Nodes list = r.nodes;
    reference::sortByAxis(list, 1, 3, 0);
    EXPECT_EQ(list, (Nodes{r.nodes[0], r.nodes[3], r.nodes[2], r.nodes[1], r.nodes[4]}));
}

TEST(BuildTree, OnePointIsALeaf)
{
    Reconstruct r;
    loadPoints(r, "1 2 3 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const auto mirror = reference::mirrorOf(*tree);
    const BinaryTree* root = mirror.get();
    ASSERT_TRUE(root->isLeaf());
    EXPECT_EQ(pointOf(root), r.nodes[0]);
}

TEST(BuildTree, TwoPointsSplitOnXAtTheSmallerPoint)
{
    // The larger point comes first in the file: the sort must put it right.
    Reconstruct r;
    loadPoints(r, "5 0 0 0 0 1\n"
                  "2 9 9 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const auto mirror = reference::mirrorOf(*tree);
    const BinaryTree* root = mirror.get();
    ASSERT_FALSE(root->isLeaf());
    EXPECT_EQ(planeOf(root).axis, 0);
    EXPECT_EQ(planeOf(root).value, 2.0);
    EXPECT_EQ(pointOf(root->left), r.nodes[1]);
    EXPECT_EQ(pointOf(root->right), r.nodes[0]);
}

TEST(BuildTree, ThreePointsPutTwoOnTheLeftSplitOnY)
{
    Reconstruct r;
    loadPoints(r, "2 1 0 0 0 1\n"
                  "1 5 0 0 0 1\n"
                  "0 0 0 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const auto mirror = reference::mirrorOf(*tree);
    const BinaryTree* root = mirror.get();
    EXPECT_EQ(planeOf(root).value, 1.0);
    ASSERT_FALSE(root->left->isLeaf());
    EXPECT_EQ(planeOf(root->left).axis, 1);
    EXPECT_EQ(planeOf(root->left).value, 0.0);
    EXPECT_EQ(pointOf(root->left->left), r.nodes[2]);
    EXPECT_EQ(pointOf(root->left->right), r.nodes[1]);
    ASSERT_TRUE(root->right->isLeaf());
    EXPECT_EQ(pointOf(root->right), r.nodes[0]);
}

TEST(BuildTree, EqualXSplitsByYThenZ)
{
    // The split value is shared by points on both sides of the plane.
    Reconstruct r;
    loadPoints(r, "1 3 0 0 0 1\n"
                  "1 1 0 0 0 1\n"
                  "1 2 5 0 0 1\n"
                  "1 2 4 0 0 1\n");
    const auto tree = treeOver(r.nodes);
    const auto mirror = reference::mirrorOf(*tree);
    const BinaryTree* root = mirror.get();
    EXPECT_EQ(planeOf(root).value, 1.0);
    EXPECT_EQ(leavesOf(root->left), (Nodes{r.nodes[1], r.nodes[3]}));
    EXPECT_EQ(leavesOf(root->right), (Nodes{r.nodes[2], r.nodes[0]}));
}

TEST(BuildTree, KeepsItsShapeForEveryCount)
{
    for (std::size_t n = 1; n <= 40; ++n) {
        SCOPED_TRACE(n);
        Reconstruct r;
        addGridCloud(r, n, static_cast<unsigned>(n), 4);
        const auto tree = treeOver(r.nodes);
        const auto mirror = reference::mirrorOf(*tree);
        const BinaryTree* root = mirror.get();
        expectEveryPointOnce(root, r.nodes);
        expectWellFormed(root, 0);
        EXPECT_LE(depthOf(root), static_cast<std::size_t>(std::ceil(std::log2(n))));
    }
}

TEST(BuildTree, KeepsItsShapeOnCloudsWithManyTies)
{
    for (unsigned seed = 1; seed <= 3; ++seed) {
        Reconstruct r;
        addGridCloud(r, 3000, seed, 6);
        const auto tree = treeOver(r.nodes);
        const auto mirror = reference::mirrorOf(*tree);
        const BinaryTree* root = mirror.get();
        expectEveryPointOnce(root, r.nodes);
        expectWellFormed(root, 0);
        EXPECT_EQ(depthOf(root), 12u);
    }
}

TEST(BuildTree, MillionCopiesOfOnePointStayShallow)
{
    // Each level must halve the points even when no coordinate tells them
    // apart; otherwise building, querying or destroying overflows the stack.
    constexpr std::size_t kCount = 1000000;
    std::vector<std::unique_ptr<ReconNode>> owned;
    Nodes nodes;
    owned.reserve(kCount);
    nodes.reserve(kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        owned.emplace_back(makeNode(1.0, 2.0, 3.0, i));
        nodes.push_back(owned.back().get());
    }

    Tree tree;
    tree.build(nodes);
    EXPECT_EQ(depthOf(tree), 20u);

    const SphereSearch atThePoint(CGVertex{1.0, 2.0, 3.0}, 0.0);
    const SphereSearch elsewhere(CGVertex{1.0, 2.0, 4.0}, 0.5);
    Nodes found;
    tree.searchFromRoot(found, elsewhere);
    EXPECT_TRUE(found.empty());
    tree.searchFromRoot(found, atThePoint);
    EXPECT_EQ(found.size(), kCount);
}
