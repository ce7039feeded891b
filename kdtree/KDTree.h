#pragma once

#include "geometry/CGSplane.h"
#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "records/ReconNode.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

// A three-dimensional KD-tree over ReconNode points, one point per leaf.
// Inner nodes split at a median point on an axis that cycles x, y, z with
// the depth. The tree is built once and never changed; it never owns the
// points.
//
// Every axis orders points by a key: the axis coordinate first, then x (or
// y for the x axis), then the remaining coordinate, then the node's index.
// The index makes the order total, so coincident points split like any
// others and the tree stays balanced even when every point is the same.
//
// The tree is laid out in two arrays instead of a record per node. Each
// split gives the left side ceil(n/2) of its n points, so a node's place
// in the tree alone fixes which run of the leaf order it covers; the
// leaves are one array of points in leaf order, and the splits one array
// of values, each kept at the place of the last leaf on its left side (no
// two splits share that place). A million-point tree costs 16 MB, not the
// 120 MB that two records and two payloads a point cost.
template <typename T>
class KDTree {
public:
    // The coordinates of each axis's key, most significant first. y and z
    // break their ties on x, not on the next axis in the cycle.
    static constexpr std::uint8_t kKeys[3][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}};

    // A node of a built tree: the run of leaf places it covers and the
    // axis it splits on. A value; it stays valid as long as the tree does.
    class Node {
    public:
        bool isLeaf() const { return count == 1; }
        // The lower and upper side of an inner node.
        Node left() const { return {first, (count + 1) / 2, nextAxis()}; }
        Node right() const { return {first + (count + 1) / 2, count / 2, nextAxis()}; }
        // Where an inner node's split value is kept: its left side's last leaf.
        std::size_t splitPlace() const { return first + (count + 1) / 2 - 1; }
        bool operator==(const Node& other) const { return first == other.first && count == other.count; }
        bool operator!=(const Node& other) const { return !(*this == other); }

        std::size_t first;  // the leaf place of its first point
        std::size_t count;  // how many points it holds, at least one
        std::uint8_t axis;

    private:
        std::uint8_t nextAxis() const { return static_cast<std::uint8_t>(axis == 2 ? 0 : axis + 1); }
    };

    KDTree() = default;
    KDTree(const KDTree&) = delete;
    KDTree& operator=(const KDTree&) = delete;

    // Builds the tree over nodes, splitting first on axis 0, in place of
    // any tree built before. Each split takes the ceil(n/2) points that
    // come first in its axis's key order to the left, the last of them
    // being the median the plane goes through; a selection in one array of
    // the points' keys finds them in time linear in n. The nodes' indices
    // must be distinct and their positions finite, as they are in
    // Reconstruct::nodes. Where progress is given, every leaf made counts
    // there, out of the number of nodes. With threads 2 the two sides of
    // the root are built at once; the tree is the same.
    void build(const Nodes& nodes, Progress* progress = nullptr, unsigned threads = 1);

    // No tree: none built, built over no nodes, or cleared.
    bool empty() const { return leaves_.empty(); }
    std::size_t size() const { return leaves_.size(); }
    // The node over every point; only for a tree that is not empty.
    Node root() const { return {0, leaves_.size(), 0}; }
    // The split of an inner node, and the point of a leaf.
    CGSplane plane(const Node& node) const { return CGSplane{splits_[node.splitPlace()], node.axis}; }
    ReconNode* point(const Node& leaf) const { return leaves_[leaf.first]; }
    // Every point in leaf order.
    const Nodes& leaves() const { return leaves_; }

    // Appends every point under node to out, in leaf order.
    void reportSubtree(Nodes& out, const Node& node) const
    {
        out.insert(out.end(), leaves_.begin() + static_cast<std::ptrdiff_t>(node.first),
                   leaves_.begin() + static_cast<std::ptrdiff_t>(node.first + node.count));
    }

    // Appends to out the points that range may hold: every point inside
    // range, and possibly others inside its box, in leaf order. The walk
    // starts at the root with the region of all space, (-1e300, -1e300,
    // -1e300) to (1e300, 1e300, 1e300). A region that lies inside the
    // range's box is reported whole; both sides of a plane are searched when
    // the box reaches the plane, so a point on the plane is never missed.
    // Successive queries mostly land close together; each starts below the
    // deepest node of the previous one's path whose region still holds the
    // range's box strictly inside, because from the root down to such a node
    // the search only ever goes one way and reports nothing. Range gives
    // contains(const ReconNode*) and bounds(CGVertex& min, CGVertex& max).
    // The tree must not be empty; out is only appended to.
    template <typename Range>
    void searchFromRoot(Nodes& out, const Range& range) const;

    // Drops the tree, for when the points the leaves stand for are gone.
    void clear()
    {
        Nodes().swap(leaves_);
        std::vector<T>().swap(splits_);
        path_.clear();
    }

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
    // Splits the keys of node, which lie at the same places of keys as its
    // leaves, and goes on into both sides: writes node's splits. A leaf's
    // key is left where its point belongs. Counts leaves where progress is
    // given.
    void selectBelow(PointKey* keys, Node node, Progress* progress);
    // Orders the keys of an inner node around its median and writes its split.
    void selectMedian(PointKey* keys, const Node& node);

    // The search below node, whose region is [low, high]. The box of the
    // range is the same at every node, so it is asked for once per query.
    template <typename Range>
    void searchBelow(Nodes& out, const Node& node, const CGVertex& low, const CGVertex& high, const Range& range,
                     const CGVertex& boxLow, const CGVertex& boxHigh) const;

    Nodes leaves_;           // not owned; in leaf order
    std::vector<T> splits_;  // by the place of each inner node's left side's last leaf

    // The path of the last searchFromRoot, from root down.
    struct Step {
        Node node;
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
void KDTree<T>::build(const Nodes& nodes, Progress* progress, unsigned threads)
{
    clear();
    const std::size_t n = nodes.size();
    if (n == 0)
        return;
    if (progress != nullptr)
        progress->begin(Progress::Stage::Tree, n);
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
    splits_.assign(n - 1, T{});
    // Below a few thousand points a thread costs more than it saves.
    constexpr std::size_t kWorthAThread = std::size_t{1} << 14;
    const Node top = {0, n, 0};
    if (threads >= 2 && n >= kWorthAThread) {
        selectMedian(keys.data(), top);
        // The sides write disjoint keys and disjoint splits; only this
        // thread counts progress, the helper's leaves all at once at the end.
        std::thread helper;
        try {
            helper = std::thread([this, &keys, &top] { selectBelow(keys.data(), top.right(), nullptr); });
        } catch (const std::system_error&) {
            // No thread to be had: this one builds both sides, to the same tree.
        }
        selectBelow(keys.data(), top.left(), progress);
        if (helper.joinable()) {
            helper.join();
            if (progress != nullptr)
                progress->advance(top.right().count);
        } else {
            selectBelow(keys.data(), top.right(), progress);
        }
    } else {
        selectBelow(keys.data(), top, progress);
    }
    // The selections leave each key at its leaf's place.
    leaves_.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        leaves_[i] = nodes[keys[i].place];
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
void KDTree<T>::selectMedian(PointKey* keys, const Node& node)
{
    // After the selection the first ceil(n/2) keys are the left side's and
    // the last of them is the median; the order within each side does not
    // matter.
    PointKey* begin = keys + node.first;
    PointKey* end = begin + node.count;
    PointKey* median = keys + node.splitPlace();
    switch (node.axis) {
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
    splits_[node.splitPlace()] = median->coordinate[node.axis];
}

template <typename T>
void KDTree<T>::selectBelow(PointKey* keys, Node node, Progress* progress)
{
    // The left side first, the right side waiting: a balanced tree over as
    // many points as an index can count is never deeper than this.
    Node pending[40];
    std::size_t waiting = 0;
    for (;;) {
        if (node.isLeaf()) {
            if (progress != nullptr)
                progress->advance(1);
            if (waiting == 0)
                return;
            node = pending[--waiting];
            continue;
        }
        selectMedian(keys, node);
        assert(waiting < std::size(pending));
        pending[waiting++] = node.right();
        node = node.left();
    }
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
    assert(!empty());
    constexpr T kFar = static_cast<T>(1e300);
    CGVertex boxLow;
    CGVertex boxHigh;
    range.bounds(boxLow, boxHigh);

    if (path_.empty() || path_.front().node != root())
        path_.assign(1, Step{root(), CGVertex{-kFar, -kFar, -kFar}, CGVertex{kFar, kFar, kFar}});
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
            if (step.node.isLeaf())
                break;
            const T value = splits_[step.node.splitPlace()];
            const std::uint8_t axis = step.node.axis;
            Step next = step;
            if (coordinate(boxHigh, axis) < value) {
                next.node = step.node.left();
                setCoordinate(next.high, axis, value);
            } else if (value < coordinate(boxLow, axis)) {
                next.node = step.node.right();
                setCoordinate(next.low, axis, value);
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
void KDTree<T>::searchBelow(Nodes& out, const Node& node, const CGVertex& low, const CGVertex& high, const Range& range,
                            const CGVertex& boxLow, const CGVertex& boxHigh) const
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
        Node node;
        unsigned inside;
    };
    Pending pending[40];
    std::size_t waiting = 0;
    Pending current = {node, inside};
    for (;;) {
        const Node& at = current.node;
        if (current.inside == kAllInside) {
            reportSubtree(out, at);
        } else if (at.isLeaf()) {
            ReconNode* candidate = leaves_[at.first];
            if (range.contains(candidate))
                out.push_back(candidate);
        } else {
            const T v = splits_[at.splitPlace()];
            const std::uint8_t a = at.axis;
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
                pending[waiting++] = {at.right(), rightInside};
            }
            if (left) {
                current = {at.left(), leftInside};
                continue;
            }
            if (right) {
                current = {at.right(), rightInside};
                continue;
            }
        }
        if (waiting == 0)
            return;
        current = pending[--waiting];
    }
}
