#pragma once

// The KD-tree built and queried the plain way, as the yardstick the
// program's tree is held against: a node record per node, each carrying a
// payload (the split plane or the point), the points sorted on each axis,
// each level split by position in the list of its axis and the other two
// lists partitioned against the median, and a recursive range query that
// can start at any node with any region. Slow and obvious; the tests check
// that KDTree::build and KDTree::searchFromRoot give exactly what this
// gives.

#include "geometry/CGSplane.h"
#include "geometry/CGVertex.h"
#include "kdtree/BinaryTree.h"
#include "kdtree/KDTree.h"
#include "kdtree/iBase.h"
#include "records/ReconNode.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace reference {

using Tree = KDTree<double>;

// Payload of an inner node: the plane it splits at.
class KDSplane : public iBase {
public:
    explicit KDSplane(const CGSplane& splitPlane) : plane(splitPlane) {}
    CGSplane plane;
};

// Payload of a leaf: the point it stands for.
class KDReconNode : public iBase {
public:
    explicit KDReconNode(ReconNode* point) : node(point) {}
    ReconNode* node;  // not owned
};

inline BinaryTree* makeLeaf(ReconNode* point)
{
    return new BinaryTree(new KDReconNode(point));
}

inline BinaryTree* makeSplit(const CGSplane& plane)
{
    return new BinaryTree(new KDSplane(plane));
}

// Appends every point under node (not null) to out, in leaf order.
inline void reportSubtree(Nodes& out, const BinaryTree* node)
{
    if (node->isLeaf()) {
        out.push_back(static_cast<const KDReconNode*>(node->data)->node);
        return;
    }
    reportSubtree(out, node->left);
    reportSubtree(out, node->right);
}

// The program's tree below node as node records, for the tests that look
// inside it or walk it the plain way. The caller owns the result.
inline BinaryTree* mirrorOf(const Tree& tree, const Tree::Node& node)
{
    if (node.isLeaf())
        return makeLeaf(tree.point(node));
    BinaryTree* inner = makeSplit(tree.plane(node));
    inner->attachLeft(mirrorOf(tree, node.left()));
    inner->attachRight(mirrorOf(tree, node.right()));
    return inner;
}

// The whole of the program's tree as node records; null when it is empty.
inline std::unique_ptr<BinaryTree> mirrorOf(const Tree& tree)
{
    return std::unique_ptr<BinaryTree>(tree.empty() ? nullptr : mirrorOf(tree, tree.root()));
}

// The two relations compareOnAxis answers.
enum Relation { kLessOrEqual, kGreaterOrEqual };

inline double coordinate(const CGVertex& v, std::uint8_t axis)
{
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

// Negative, zero or positive as a is before, equal to or after b in the
// key order of axis.
inline int keyOrder(const ReconNode* a, const ReconNode* b, std::uint8_t axis)
{
    for (std::uint8_t c : Tree::kKeys[axis]) {
        const double p = coordinate(a->position, c);
        const double q = coordinate(b->position, c);
        if (p < q)
            return -1;
        if (q < p)
            return 1;
    }
    if (a->index != b->index)
        return a->index < b->index ? -1 : 1;
    return 0;
}

// Whether a stands in relation to b in the key order of axis (0, 1, 2).
// A node compared with itself satisfies both relations.
inline bool compareOnAxis(const ReconNode* a, const ReconNode* b, std::uint8_t axis, Relation relation)
{
    const int order = keyOrder(a, b, axis);
    return relation == kLessOrEqual ? order <= 0 : order >= 0;
}

// Sorts list[first..last] (both inclusive) ascending in the key order of
// axis, in place.
inline void sortByAxis(Nodes& list, std::size_t first, std::size_t last, std::uint8_t axis)
{
    if (first >= last)
        return;
    std::sort(list.begin() + static_cast<std::ptrdiff_t>(first), list.begin() + static_cast<std::ptrdiff_t>(last) + 1,
              [axis](const ReconNode* a, const ReconNode* b) { return keyOrder(a, b, axis) < 0; });
}

// The subtree over xs, ys and zs (the same nodes, sorted by sortByAxis on
// x, y and z), splitting first on axis; the caller owns it. Null for empty
// lists.
inline BinaryTree* buildTree(const Nodes& xs, const Nodes& ys, const Nodes& zs, std::uint8_t axis)
{
    const std::size_t n = xs.size();
    if (n == 0)
        return nullptr;
    if (n == 1)
        return makeLeaf(xs[0]);

    const Nodes* lists[3] = {&xs, &ys, &zs};
    const std::size_t k = static_cast<std::size_t>(std::ceil(static_cast<double>(n) * 0.5)) - 1;
    const ReconNode* median = (*lists[axis])[k];
    BinaryTree* node = makeSplit(CGSplane{coordinate(median->position, axis), axis});

    Nodes left[3];
    Nodes right[3];
    for (std::uint8_t a = 0; a < 3; ++a) {
        const Nodes& list = *lists[a];
        for (std::size_t i = 0; i < n; ++i) {
            const bool toLeft = a == axis ? i <= k : compareOnAxis(list[i], median, axis, kLessOrEqual);
            (toLeft ? left[a] : right[a]).push_back(list[i]);
        }
    }
    const std::uint8_t next = static_cast<std::uint8_t>((axis + 1) % 3);
    node->attachLeft(buildTree(left[0], left[1], left[2], next));
    node->attachRight(buildTree(right[0], right[1], right[2], next));
    return node;
}

// Sorts three copies of nodes and builds a tree from them.
inline std::unique_ptr<BinaryTree> buildFromSortedLists(const Nodes& nodes)
{
    Nodes xs = nodes;
    Nodes ys = nodes;
    Nodes zs = nodes;
    if (nodes.size() > 1) {
        sortByAxis(xs, 0, xs.size() - 1, 0);
        sortByAxis(ys, 0, ys.size() - 1, 1);
        sortByAxis(zs, 0, zs.size() - 1, 2);
    }
    return std::unique_ptr<BinaryTree>(buildTree(xs, ys, zs, 0));
}

// The inside-box test of a region [lo, hi]: strict on the low side of x
// and the high sides of y and z.
inline bool insideBox(const CGVertex& lo, const CGVertex& hi, const CGVertex& boxLow, const CGVertex& boxHigh)
{
    return boxLow.x < lo.x && boxLow.y <= lo.y && boxLow.z <= lo.z && boxHigh.x >= hi.x && boxHigh.y > hi.y &&
           boxHigh.z > hi.z;
}

// Appends to out the points under node (not null) that range may hold,
// node's region being [low, high]: a region inside the range's box is
// reported whole, a leaf's point when the range contains it, and a side of
// a plane is searched when the box reaches the plane from that side or
// touches it. Leaf order; out is only appended to.
template <typename Range>
void rangeSearch(Nodes& out, const BinaryTree* node, CGVertex low, CGVertex high, const Range* range)
{
    CGVertex boxLow;
    CGVertex boxHigh;
    range->bounds(boxLow, boxHigh);
    if (insideBox(low, high, boxLow, boxHigh)) {
        reportSubtree(out, node);
        return;
    }
    if (node->isLeaf()) {
        ReconNode* point = static_cast<const KDReconNode*>(node->data)->node;
        if (range->contains(point))
            out.push_back(point);
        return;
    }
    const CGSplane& plane = static_cast<const KDSplane*>(node->data)->plane;
    const std::uint8_t a = plane.axis;
    CGVertex leftHigh = high;
    CGVertex rightLow = low;
    (a == 0 ? leftHigh.x : a == 1 ? leftHigh.y : leftHigh.z) = plane.value;
    (a == 0 ? rightLow.x : a == 1 ? rightLow.y : rightLow.z) = plane.value;
    const bool boxIsValid = coordinate(boxHigh, a) >= coordinate(boxLow, a);
    if (insideBox(low, leftHigh, boxLow, boxHigh) || (boxIsValid && coordinate(boxLow, a) <= plane.value))
        rangeSearch(out, node->left, low, leftHigh, range);
    if (insideBox(rightLow, high, boxLow, boxHigh) || (boxIsValid && coordinate(boxHigh, a) >= plane.value))
        rangeSearch(out, node->right, rightLow, high, range);
}

}  // namespace reference
