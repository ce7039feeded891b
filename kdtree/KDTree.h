#pragma once

#include "geometry/CGSplane.h"
#include "geometry/CGVertex.h"
#include "kdtree/BinaryTree.h"
#include "kdtree/iBase.h"
#include "mesh/ReconNode.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// A three-dimensional KD-tree over ReconNode points, one point per leaf.
// Inner nodes split at a median point on an axis that cycles x, y, z with
// the depth. The tree is built once from three presorted lists and never
// changed; it owns its nodes and payloads, never the points.
//
// Every axis orders points by a key: the axis coordinate first, then x (or
// y for the x axis), then the remaining coordinate, then the node's index.
// The index makes the order total, so coincident points split like any
// others and the tree stays balanced even when every point is the same.
template <typename T>
class KDTree {
public:
    // The two relations compareOnAxis answers.
    enum Relation : int { kLessOrEqual = 1, kGreaterOrEqual = 2 };

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

    // A region of space that a query collects points from.
    class SearchRange {
    public:
        virtual ~SearchRange() {}
        // Whether the region holds the position of point.
        virtual bool contains(const ReconNode* point) const = 0;
        // Overwrites min and max with the corners of a box around the region.
        virtual void bounds(CGVertex& min, CGVertex& max) const = 0;
    };

    KDTree() = default;
    ~KDTree() { delete root; }
    KDTree(const KDTree&) = delete;
    KDTree& operator=(const KDTree&) = delete;

    // Whether a stands in relation to b in the key order of axis (0, 1, 2).
    // A node compared with itself satisfies both relations.
    static bool compareOnAxis(const ReconNode* a, const ReconNode* b, std::uint8_t axis, int relation);

    // Sorts list[first..last] (both inclusive) ascending in the key order of
    // axis, in place. O(n log n) on any input, with shallow recursion.
    static void sortByAxis(Nodes& list, std::size_t first, std::size_t last, std::uint8_t axis);

    // A new tree over the points of xs, ys and zs (the same nodes, sorted by
    // sortByAxis on x, y and z), splitting first on axis. The caller owns the
    // result; null for empty lists. The nodes' indices must be distinct and
    // their positions finite, as they are in Reconstruct::nodes.
    static BinaryTree* buildTree(const Nodes& xs, const Nodes& ys, const Nodes& zs, std::uint8_t axis);

    // Appends to out the points under node (not null) that range may hold:
    // every point inside range, and possibly others inside its box. low and
    // high bound node's region. Leaf order; out is only appended to.
    static void rangeSearch(Nodes& out, const BinaryTree* node, CGVertex low, CGVertex high, const SearchRange* range);

    // Appends every point under node (not null) to out, in leaf order.
    static void reportSubtree(Nodes& out, const BinaryTree* node);

    BinaryTree* root = nullptr;  // owned; null until built

private:
    // The coordinates of each axis's key, most significant first. y and z
    // break their ties on x, not on the next axis in the cycle.
    static constexpr std::uint8_t kKeys[3][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}};

    static T coordinate(const CGVertex& v, std::uint8_t axis);
    static void setCoordinate(CGVertex& v, std::uint8_t axis, T value);
    // Negative, zero or positive as a is before, equal to or after b.
    static int keyOrder(const ReconNode* a, const ReconNode* b, std::uint8_t axis);
    static bool insideBox(const CGVertex& lo, const CGVertex& hi, const CGVertex& boxLow, const CGVertex& boxHigh);
    static BinaryTree* buildRange(Nodes (&lists)[3], Nodes& spill, std::size_t begin, std::size_t end, std::uint8_t axis);
};

template <typename T>
T KDTree<T>::coordinate(const CGVertex& v, std::uint8_t axis)
{
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

template <typename T>
void KDTree<T>::setCoordinate(CGVertex& v, std::uint8_t axis, T value)
{
    (axis == 0 ? v.x : axis == 1 ? v.y : v.z) = value;
}

template <typename T>
int KDTree<T>::keyOrder(const ReconNode* a, const ReconNode* b, std::uint8_t axis)
{
    for (std::uint8_t c : kKeys[axis]) {
        const T p = coordinate(a->position, c);
        const T q = coordinate(b->position, c);
        if (p < q)
            return -1;
        if (q < p)
            return 1;
    }
    if (a->index != b->index)
        return a->index < b->index ? -1 : 1;
    return 0;
}

template <typename T>
bool KDTree<T>::compareOnAxis(const ReconNode* a, const ReconNode* b, std::uint8_t axis, int relation)
{
    const int order = keyOrder(a, b, axis);
    return relation == kLessOrEqual ? order <= 0 : order >= 0;
}

template <typename T>
void KDTree<T>::sortByAxis(Nodes& list, std::size_t first, std::size_t last, std::uint8_t axis)
{
    if (first >= last)
        return;
    assert(last < list.size());

    // The keys are copied out next to their nodes: comparing them in place
    // would chase a pointer into a scattered node for every comparison.
    struct Keyed {
        T key[3];
        std::size_t index;
        ReconNode* node;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(last - first + 1);
    for (std::size_t i = first; i <= last; ++i) {
        const ReconNode* n = list[i];
        keyed.push_back({{coordinate(n->position, kKeys[axis][0]), coordinate(n->position, kKeys[axis][1]),
                          coordinate(n->position, kKeys[axis][2])},
                         n->index,
                         list[i]});
    }
    // The key order is total, so any correct sort gives the same list; an
    // introsort keeps presorted and all-equal input at O(n log n).
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        for (int c = 0; c < 3; ++c) {
            if (a.key[c] < b.key[c])
                return true;
            if (b.key[c] < a.key[c])
                return false;
        }
        return a.index < b.index;
    });
    for (std::size_t i = first; i <= last; ++i)
        list[i] = keyed[i - first].node;
}

template <typename T>
BinaryTree* KDTree<T>::buildTree(const Nodes& xs, const Nodes& ys, const Nodes& zs, std::uint8_t axis)
{
    assert(xs.size() == ys.size() && xs.size() == zs.size());
    if (xs.empty())
        return nullptr;
    // Each node's lists are a slice of these three working copies; the
    // partitions rearrange within the slice, so no level allocates lists.
    Nodes lists[3] = {xs, ys, zs};
    Nodes spill(xs.size());
    return buildRange(lists, spill, 0, xs.size(), axis);
}

template <typename T>
BinaryTree* KDTree<T>::buildRange(Nodes (&lists)[3], Nodes& spill, std::size_t begin, std::size_t end,
                                  std::uint8_t axis)
{
    const std::size_t n = end - begin;
    if (n == 1)
        return new BinaryTree(new KDReconNode(lists[0][begin]));

    const std::size_t k = static_cast<std::size_t>(std::ceil(static_cast<double>(n) * 0.5)) - 1;
    const ReconNode* m = lists[axis][begin + k];
    BinaryTree* node = new BinaryTree(new KDSplane(CGSplane{coordinate(m->position, axis), axis}));

    // The axis list splits by position; the other two are partitioned
    // against the median in the same key order, keeping their own order.
    // With a total order both ways pick the same ceil(n/2) points.
    for (std::uint8_t other = 0; other < 3; ++other) {
        if (other == axis)
            continue;
        Nodes& list = lists[other];
        std::size_t kept = begin;
        std::size_t spilled = 0;
        for (std::size_t i = begin; i < end; ++i) {
            if (keyOrder(list[i], m, axis) <= 0)
                list[kept++] = list[i];
            else
                spill[spilled++] = list[i];
        }
        assert(kept == begin + k + 1);
        std::copy(spill.begin(), spill.begin() + static_cast<std::ptrdiff_t>(spilled),
                  list.begin() + static_cast<std::ptrdiff_t>(kept));
    }

    const std::uint8_t next = static_cast<std::uint8_t>((axis + 1) % 3);
    node->attachLeft(buildRange(lists, spill, begin, begin + k + 1, next));
    node->attachRight(buildRange(lists, spill, begin + k + 1, end, next));
    return node;
}

template <typename T>
bool KDTree<T>::insideBox(const CGVertex& lo, const CGVertex& hi, const CGVertex& boxLow, const CGVertex& boxHigh)
{
    // The mixed strictness is deliberate and must stay as it is: which
    // subtrees get reported whole decides which corner points reach the
    // candidate list.
    return boxLow.x < lo.x && boxLow.y <= lo.y && boxLow.z <= lo.z && boxHigh.x >= hi.x && boxHigh.y > hi.y &&
           boxHigh.z > hi.z;
}

template <typename T>
void KDTree<T>::rangeSearch(Nodes& out, const BinaryTree* node, CGVertex low, CGVertex high, const SearchRange* range)
{
    if (node->isLeaf()) {
        ReconNode* point = static_cast<const KDReconNode*>(node->data)->node;
        if (range->contains(point))
            out.push_back(point);
        return;
    }

    const CGSplane& plane = static_cast<const KDSplane*>(node->data)->plane;
    const T v = plane.value;
    const std::uint8_t a = plane.axis;
    CGVertex leftHigh = high;
    setCoordinate(leftHigh, a, v);
    CGVertex rightLow = low;
    setCoordinate(rightLow, a, v);

    CGVertex boxLow;
    CGVertex boxHigh;
    range->bounds(boxLow, boxHigh);
    const T boxLowA = coordinate(boxLow, a);
    const T boxHighA = coordinate(boxHigh, a);
    const bool boxIsValid = boxHighA >= boxLowA;

    // Both descents include the plane itself: points on it can lie on either
    // side, and a point on the plane inside the range must not be missed.
    if (insideBox(low, leftHigh, boxLow, boxHigh))
        reportSubtree(out, node->left);
    else if (boxIsValid && boxLowA <= v)
        rangeSearch(out, node->left, low, leftHigh, range);

    if (insideBox(rightLow, high, boxLow, boxHigh))
        reportSubtree(out, node->right);
    else if (boxIsValid && boxHighA >= v)
        rangeSearch(out, node->right, rightLow, high, range);
}

template <typename T>
void KDTree<T>::reportSubtree(Nodes& out, const BinaryTree* node)
{
    if (node->isLeaf()) {
        out.push_back(static_cast<const KDReconNode*>(node->data)->node);
        return;
    }
    reportSubtree(out, node->left);
    reportSubtree(out, node->right);
}
