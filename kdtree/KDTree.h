#pragma once

#include "geometry/CGSplane.h"
#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "kdtree/BinaryTree.h"
#include "kdtree/iBase.h"
#include "records/Arena.h"
#include "records/ReconNode.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// A three-dimensional KD-tree over ReconNode points, one point per leaf.
// Inner nodes split at a median point on an axis that cycles x, y, z with
// the depth. The tree is built once and never changed; it owns its nodes
// and payloads, never the points. Nodes and payloads live in the tree's own
// storage and all go with it at once, never one by one: a million-point
// tree is four million small records.
//
// Every axis orders points by a key: the axis coordinate first, then x (or
// y for the x axis), then the remaining coordinate, then the node's index.
// The index makes the order total, so coincident points split like any
// others and the tree stays balanced even when every point is the same.
template <typename T>
class KDTree {
public:
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

    // The coordinates of each axis's key, most significant first. y and z
    // break their ties on x, not on the next axis in the cycle.
    static constexpr std::uint8_t kKeys[3][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}};

    KDTree() = default;
    ~KDTree() = default;  // the storage takes root and everything under it
    KDTree(const KDTree&) = delete;
    KDTree& operator=(const KDTree&) = delete;

    // A new tree over nodes, splitting first on axis 0. Each split takes the
    // ceil(n/2) points that come first in its axis's key order to the left,
    // the last of them being the median the plane goes through; a selection
    // in one array of the points' keys finds them in time linear in n. The
    // nodes are made in this tree's storage and live as long as the tree
    // does, whether or not the result becomes root. Null when nodes is
    // empty. The nodes' indices must be distinct and their positions finite,
    // as they are in Reconstruct::nodes. Where progress is given, every
    // leaf made counts there, out of the number of nodes.
    BinaryTree* buildOver(const Nodes& nodes, Progress* progress = nullptr);

    // A leaf standing for point, and an inner node splitting at plane with
    // no children yet, made in this tree's storage like the nodes of
    // buildOver.
    BinaryTree* makeLeaf(ReconNode* point) { return storage_.make<BinaryTree>(storage_.make<KDReconNode>(point)); }
    BinaryTree* makeSplit(const CGSplane& plane) { return storage_.make<BinaryTree>(storage_.make<KDSplane>(plane)); }

    // Appends every point under node (not null) to out, in leaf order.
    static void reportSubtree(Nodes& out, const BinaryTree* node);

    // Appends to out the points under root that range may hold: every point
    // inside range, and possibly others inside its box, in leaf order. The
    // walk starts at root with the region of all space, (-1e300, -1e300,
    // -1e300) to (1e300, 1e300, 1e300). A region that lies inside the
    // range's box is reported whole; both sides of a plane are searched when
    // the box reaches the plane, so a point on the plane is never missed.
    // Successive queries mostly land close together; each starts below the
    // deepest node of the previous one's path whose region still holds the
    // range's box strictly inside, because from the root down to such a node
    // the search only ever goes one way and reports nothing. Range gives
    // contains(const ReconNode*) and bounds(CGVertex& min, CGVertex& max).
    // root must not be null; out is only appended to.
    template <typename Range>
    void searchFromRoot(Nodes& out, const Range& range) const;

    // Destroys every node and payload and sets root to null, for when the
    // points the leaves stand for are gone.
    void clear()
    {
        root = nullptr;
        path_.clear();
        storage_.release();
    }

    BinaryTree* root = nullptr;  // owned; null until built

private:
    // How far ahead a pass over scattered points asks for the next ones.
    static constexpr std::size_t kAhead = 16;

    static T coordinate(const CGVertex& v, std::uint8_t axis);
    static void setCoordinate(CGVertex& v, std::uint8_t axis, T value);
    // The inside-box test: whether the region [lo, hi] lies inside the box.
    static bool insideBox(const CGVertex& lo, const CGVertex& hi, const CGVertex& boxLow, const CGVertex& boxHigh);

    // What the key order of every axis needs of a point, and where the
    // point is in the list being built over.
    struct PointKey {
        T coordinate[3];
        std::uint32_t index;
        std::uint32_t place;
    };
    // Whether a comes before b in the key order of Axis.
    template <int Axis>
    static bool keyBefore(const PointKey& a, const PointKey& b);
    // The subtree over the points of [begin, end), splitting first on axis;
    // the keys are reordered on the way.
    BinaryTree* selectTree(const Nodes& nodes, PointKey* begin, PointKey* end, std::uint8_t axis);

    // The search below node, whose region is [low, high]. The box of the
    // range is the same at every node, so it is asked for once per query.
    template <typename Range>
    static void searchBelow(Nodes& out, const BinaryTree* node, const CGVertex& low, const CGVertex& high,
                            const Range& range, const CGVertex& boxLow, const CGVertex& boxHigh);

    Arena storage_;
    // Where buildOver counts its leaves while it runs; null otherwise.
    Progress* progress_ = nullptr;  // not owned

    // The path of the last searchFromRoot, from root down.
    struct Step {
        const BinaryTree* node;
        CGVertex low;
        CGVertex high;
    };
    mutable std::vector<Step> path_;
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
BinaryTree* KDTree<T>::buildOver(const Nodes& nodes, Progress* progress)
{
    const std::size_t n = nodes.size();
    if (n == 0)
        return nullptr;
    if (progress != nullptr)
        progress->begin(Progress::Stage::Tree, n);
    progress_ = progress;
    assert(n <= std::numeric_limits<std::uint32_t>::max());
    std::vector<PointKey> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        // The points lie all over memory; asking for one a few steps ahead
        // keeps several on their way at once.
        if (i + kAhead < n)
            __builtin_prefetch(nodes[i + kAhead]);
        const ReconNode* node = nodes[i];
        assert(node->index <= std::numeric_limits<std::uint32_t>::max());
        keys[i] = {{node->position.x, node->position.y, node->position.z},
                   static_cast<std::uint32_t>(node->index),
                   static_cast<std::uint32_t>(i)};
    }
    BinaryTree* top = selectTree(nodes, keys.data(), keys.data() + n, 0);
    progress_ = nullptr;
    return top;
}

template <typename T>
template <int Axis>
bool KDTree<T>::keyBefore(const PointKey& a, const PointKey& b)
{
    for (std::uint8_t c : kKeys[Axis]) {
        if (a.coordinate[c] < b.coordinate[c])
            return true;
        if (b.coordinate[c] < a.coordinate[c])
            return false;
    }
    return a.index < b.index;
}

template <typename T>
BinaryTree* KDTree<T>::selectTree(const Nodes& nodes, PointKey* begin, PointKey* end, std::uint8_t axis)
{
    const auto n = static_cast<std::size_t>(end - begin);
    if (n == 1) {
        if (progress_ != nullptr)
            progress_->advance(1);
        return makeLeaf(nodes[begin->place]);
    }

    // After the selection the first k + 1 keys are the ceil(n/2) points of
    // the left side and begin[k] is the median; the order within each side
    // does not matter.
    const std::size_t k = (n + 1) / 2 - 1;
    PointKey* median = begin + k;
    switch (axis) {
    case 0:
        std::nth_element(begin, median, end, [](const PointKey& a, const PointKey& b) { return keyBefore<0>(a, b); });
        break;
    case 1:
        std::nth_element(begin, median, end, [](const PointKey& a, const PointKey& b) { return keyBefore<1>(a, b); });
        break;
    default:
        std::nth_element(begin, median, end, [](const PointKey& a, const PointKey& b) { return keyBefore<2>(a, b); });
        break;
    }
    BinaryTree* node = makeSplit(CGSplane{median->coordinate[axis], axis});
    // The whole left subtree is made before the right one, so the nodes lie
    // in storage in the order a search walks them.
    const std::uint8_t next = static_cast<std::uint8_t>((axis + 1) % 3);
    node->attachLeft(selectTree(nodes, begin, median + 1, next));
    node->attachRight(selectTree(nodes, median + 1, end, next));
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
template <typename Range>
void KDTree<T>::searchFromRoot(Nodes& out, const Range& range) const
{
    constexpr T kFar = static_cast<T>(1e300);
    CGVertex boxLow;
    CGVertex boxHigh;
    range.bounds(boxLow, boxHigh);

    if (path_.empty() || path_.front().node != root)
        path_.assign(1, Step{root, CGVertex{-kFar, -kFar, -kFar}, CGVertex{kFar, kFar, kFar}});
    // Strictly inside on every side: then at every node above, the box lies
    // strictly on the side of this node's region, so the search from the
    // root would only have gone this way, and no region it passed could lie
    // inside the box. NaN fails every test and falls back to the root.
    auto holds = [&boxLow, &boxHigh](const Step& step) {
        return step.low.x < boxLow.x && step.low.y < boxLow.y && step.low.z < boxLow.z && boxHigh.x < step.high.x &&
               boxHigh.y < step.high.y && boxHigh.z < step.high.z && boxLow.x <= boxHigh.x && boxLow.y <= boxHigh.y &&
               boxLow.z <= boxHigh.z;
    };
    while (path_.size() > 1 && !holds(path_.back()))
        path_.pop_back();
    if (path_.size() > 1 || holds(path_.back())) {
        for (;;) {
            const Step& step = path_.back();
            if (step.node->isLeaf())
                break;
            const CGSplane& plane = static_cast<const KDSplane*>(step.node->data)->plane;
            Step next = step;
            if (coordinate(boxHigh, plane.axis) < plane.value) {
                next.node = step.node->left;
                setCoordinate(next.high, plane.axis, plane.value);
            } else if (plane.value < coordinate(boxLow, plane.axis)) {
                next.node = step.node->right;
                setCoordinate(next.low, plane.axis, plane.value);
            } else {
                break;
            }
            path_.push_back(next);
        }
    }
    const Step& start = path_.back();
    searchBelow(out, start.node, start.low, start.high, range, boxLow, boxHigh);
}

template <typename T>
template <typename Range>
void KDTree<T>::searchBelow(Nodes& out, const BinaryTree* node, const CGVertex& low, const CGVertex& high,
                            const Range& range, const CGVertex& boxLow, const CGVertex& boxHigh)
{
    // Which of the six comparisons of the inside-box test a region passes,
    // one bit each in the order of the test. Going down one side changes
    // one side of the region, so only that bit is worked out again; a
    // region is inside the box when all six bits are set.
    constexpr unsigned kAllInside = 0x3f;
    auto lowSideInside = [&boxLow](std::uint8_t axis, T lo) {
        return axis == 0 ? boxLow.x < lo : coordinate(boxLow, axis) <= lo;
    };
    auto highSideInside = [&boxHigh](std::uint8_t axis, T hi) {
        return axis == 0 ? boxHigh.x >= hi : coordinate(boxHigh, axis) > hi;
    };
    unsigned inside = 0;
    for (std::uint8_t axis = 0; axis < 3; ++axis) {
        inside |= (lowSideInside(axis, coordinate(low, axis)) ? 1u : 0u) << axis;
        inside |= (highSideInside(axis, coordinate(high, axis)) ? 1u : 0u) << (3 + axis);
    }
    assert((inside == kAllInside) == insideBox(low, high, boxLow, boxHigh));

    // Depth first, left before right, as a recursion would go; the right
    // sides still to do wait on a stack. A balanced tree over as many points
    // as an index can count is never deeper than this.
    struct Pending {
        const BinaryTree* node;
        unsigned inside;
    };
    Pending pending[40];
    std::size_t waiting = 0;
    Pending current = {node, inside};
    for (;;) {
        const BinaryTree* at = current.node;
        if (current.inside == kAllInside) {
            reportSubtree(out, at);
        } else if (at->isLeaf()) {
            ReconNode* point = static_cast<const KDReconNode*>(at->data)->node;
            if (range.contains(point))
                out.push_back(point);
        } else {
            const CGSplane& plane = static_cast<const KDSplane*>(at->data)->plane;
            const T v = plane.value;
            const std::uint8_t a = plane.axis;
            const T boxLowA = coordinate(boxLow, a);
            const T boxHighA = coordinate(boxHigh, a);
            const bool boxIsValid = boxHighA >= boxLowA;

            // The left side's region ends at the plane above, the right
            // side's begins at it below.
            const unsigned leftInside = (current.inside & ~(1u << (3 + a))) | (highSideInside(a, v) ? 1u : 0u)
                                                                                  << (3 + a);
            const unsigned rightInside = (current.inside & ~(1u << a)) | (lowSideInside(a, v) ? 1u : 0u) << a;
            // Both descents include the plane itself: points on it can lie
            // on either side, and a point on the plane inside the range must
            // not be missed.
            const bool left = leftInside == kAllInside || (boxIsValid && boxLowA <= v);
            const bool right = rightInside == kAllInside || (boxIsValid && boxHighA >= v);
            if (left && right) {
                assert(waiting < std::size(pending));
                pending[waiting++] = {at->right, rightInside};
            }
            if (left) {
                current = {at->left, leftInside};
                continue;
            }
            if (right) {
                current = {at->right, rightInside};
                continue;
            }
        }
        if (waiting == 0)
            return;
        current = pending[--waiting];
    }
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
