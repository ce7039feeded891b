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
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

// A three-dimensional KD-tree over ReconNode points, one point per leaf.
// Inner nodes split at a median point on an axis that cycles x, y, z with
// the depth. The tree is built once from the points sorted on each axis and
// never changed; it owns its nodes and payloads, never the points. Nodes
// and payloads live in the tree's own storage and go with it all at once: a
// million-point tree is four million small records, and freeing them one by
// one took longer than building them. So the tree's nodes, though they own
// their children as every node does, are never destroyed one by one.
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
    ~KDTree() = default;  // the storage takes root and everything under it
    KDTree(const KDTree&) = delete;
    KDTree& operator=(const KDTree&) = delete;

    // Whether a stands in relation to b in the key order of axis (0, 1, 2).
    // A node compared with itself satisfies both relations.
    static bool compareOnAxis(const ReconNode* a, const ReconNode* b, std::uint8_t axis, int relation);

    // Sorts list[first..last] (both inclusive) ascending in the key order of
    // axis, in place. Linear passes over the axis coordinate, then a
    // comparison sort only among points that share it; never quadratic.
    static void sortByAxis(Nodes& list, std::size_t first, std::size_t last, std::uint8_t axis);

    // A new tree over the points of xs, ys and zs (the same nodes, sorted by
    // sortByAxis on x, y and z), splitting first on axis. The nodes are made
    // in this tree's storage and live as long as the tree does, whether or
    // not the result becomes root; null for empty lists. The nodes' indices
    // must be distinct and their positions finite, as they are in
    // Reconstruct::nodes.
    BinaryTree* buildTree(const Nodes& xs, const Nodes& ys, const Nodes& zs, std::uint8_t axis);

    // The same tree as sorting three copies of nodes with sortByAxis and
    // handing them to buildTree, splitting first on axis 0, made without
    // sorting: each split only needs to know which ceil(n/2) points come
    // first in its key order, and a selection in one array of the points'
    // keys finds them in time linear in n. Null when nodes is empty; the
    // same conditions on the nodes hold. Where progress is given, every leaf
    // made counts there, out of the number of nodes.
    BinaryTree* buildOver(const Nodes& nodes, Progress* progress = nullptr);

    // Appends to out the points under node (not null) that range may hold:
    // every point inside range, and possibly others inside its box. low and
    // high bound node's region. Leaf order; out is only appended to.
    static void rangeSearch(Nodes& out, const BinaryTree* node, CGVertex low, CGVertex high, const SearchRange* range);

    // rangeSearch for a range whose type is known here, so that its tests
    // are compiled in rather than called through the base class.
    template <typename Range>
    static void rangeSearchIn(Nodes& out, const BinaryTree* node, const CGVertex& low, const CGVertex& high,
                              const Range& range);

    // Appends every point under node (not null) to out, in leaf order.
    static void reportSubtree(Nodes& out, const BinaryTree* node);

    // Appends to out exactly what rangeSearch from root over all of space
    // appends, for a range whose type is known here. Successive queries
    // mostly land close together; each starts below the deepest node of the
    // previous one's path whose region still holds the range's box strictly
    // inside, because from the root down to such a node the search only
    // ever goes one way and reports nothing. root must not be null.
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
    // The coordinates of each axis's key, most significant first. y and z
    // break their ties on x, not on the next axis in the cycle.
    static constexpr std::uint8_t kKeys[3][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}};

    // How far ahead a pass over scattered points asks for the next ones.
    static constexpr std::size_t kAhead = 16;

    static T coordinate(const CGVertex& v, std::uint8_t axis);
    static void setCoordinate(CGVertex& v, std::uint8_t axis, T value);
    // Negative, zero or positive as a is before, equal to or after b.
    static int keyOrder(const ReconNode* a, const ReconNode* b, std::uint8_t axis);
    static bool insideBox(const CGVertex& lo, const CGVertex& hi, const CGVertex& boxLow, const CGVertex& boxHigh);

    // The positions and indices of the points being ordered, read out once.
    struct Keys {
        std::vector<CGVertex> position;
        std::vector<std::size_t> index;
    };
    static Keys keysOf(Nodes::const_iterator begin, Nodes::const_iterator end);
    // The places of keys' points in the key order of axis.
    static std::vector<std::uint32_t> orderOnAxis(const Keys& keys, std::uint8_t axis);

    // A point of the build by its place in each of the three sorted lists.
    // Comparing places is comparing keys, and the build then streams
    // through compact records instead of chasing every point in memory.
    struct Ranked {
        std::uint32_t rank[3];
    };
    struct BuildLists {
        std::vector<Ranked> byAxis[3];
        std::vector<Ranked> spill;
    };
    // One node of the tree to be, in the order the tree is made: a leaf with
    // the place of its point in xs, or a split on axis at the point with
    // that place in the axis's list. Looked up afterwards, all at once.
    struct Planned {
        std::uint32_t place;
        std::uint8_t axis;
        bool leaf;
        T value;
        ReconNode* point;
    };
    // What the key order of every axis needs of a point, and where the
    // point is in the list being built over.
    struct PointKey {
        T coordinate[3];
        std::uint32_t index;
        std::uint32_t place;
    };
    // Whether a comes before b in the key order of Axis: the same
    // comparisons as keyOrder, in its order.
    template <int Axis>
    static bool keyBefore(const PointKey& a, const PointKey& b);
    // The subtree over the points of [begin, end), splitting first on axis;
    // the keys are reordered on the way.
    BinaryTree* selectTree(const Nodes& nodes, PointKey* begin, PointKey* end, std::uint8_t axis);
    static void planRange(BuildLists& lists, std::size_t begin, std::size_t end, std::uint8_t axis,
                          std::vector<Planned>& plan);
    // Plans the tree over lists, whose first list must be filled with each
    // point's places, in the order of the first axis's list.
    static std::vector<Planned> planTree(BuildLists& lists, std::uint8_t axis);
    BinaryTree* makeNodes(const std::vector<Planned>& plan, std::size_t& next);

    // The box of the range is the same at every node, so it is asked for
    // once per query.
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
typename KDTree<T>::Keys KDTree<T>::keysOf(Nodes::const_iterator begin, Nodes::const_iterator end)
{
    const auto n = static_cast<std::size_t>(end - begin);
    Keys keys;
    keys.position.resize(n);
    keys.index.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        // The points lie all over memory; asking for one a few steps ahead
        // keeps several on their way at once.
        if (i + kAhead < n)
            __builtin_prefetch(begin[static_cast<std::ptrdiff_t>(i + kAhead)]);
        const ReconNode* node = begin[static_cast<std::ptrdiff_t>(i)];
        keys.position[i] = node->position;
        keys.index[i] = node->index;
    }
    return keys;
}

template <typename T>
std::vector<std::uint32_t> KDTree<T>::orderOnAxis(const Keys& keys, std::uint8_t axis)
{
    const std::size_t n = keys.position.size();
    assert(n <= std::numeric_limits<std::uint32_t>::max());
    struct Keyed {
        std::uint64_t key;  // the axis coordinate as an unsigned number in the same order
        std::uint32_t at;   // place in keys
    };
    std::vector<Keyed> keyed(n);
    for (std::size_t i = 0; i < n; ++i) {
        // Flip every bit of a negative double, only the sign bit of a
        // positive one. Both zeros compare equal, so both get one key.
        const T value = coordinate(keys.position[i], kKeys[axis][0]);
        const double d = value == 0 ? 0.0 : static_cast<double>(value);
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        keyed[i] = {(bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63), static_cast<std::uint32_t>(i)};
    }

    // Least significant digit first; each pass is stable, so after the last
    // one the points are in the order of the whole coordinate. A digit that
    // every key shares needs no pass.
    constexpr int kDigitBits = 11;
    constexpr std::uint64_t kDigitMask = (std::uint64_t{1} << kDigitBits) - 1;
    std::vector<Keyed> other(n);
    std::vector<std::size_t> count(kDigitMask + 2);
    for (int shift = 0; shift < 64 && n > 0; shift += kDigitBits) {
        std::fill(count.begin(), count.end(), 0);
        for (const Keyed& k : keyed)
            ++count[((k.key >> shift) & kDigitMask) + 1];
        if (count[((keyed[0].key >> shift) & kDigitMask) + 1] == n)
            continue;
        for (std::size_t b = 0; b <= kDigitMask; ++b)
            count[b + 1] += count[b];
        for (const Keyed& k : keyed)
            other[count[(k.key >> shift) & kDigitMask]++] = k;
        keyed.swap(other);
    }

    // Points that share the coordinate are put in order by the rest of the
    // key, gathered next to each other first: on scanned data such runs are
    // short, on the rings of a lathe-turned shape thousands long.
    struct Tied {
        T second;
        T third;
        std::size_t index;
        std::uint32_t at;
    };
    std::vector<Tied> tied;
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && keyed[j].key == keyed[i].key)
            ++j;
        if (j - i == 1) {
            order[i] = keyed[i].at;
        } else {
            tied.clear();
            for (std::size_t t = i; t < j; ++t) {
                const CGVertex& p = keys.position[keyed[t].at];
                tied.push_back({coordinate(p, kKeys[axis][1]), coordinate(p, kKeys[axis][2]), keys.index[keyed[t].at],
                                keyed[t].at});
            }
            // The same comparisons as keyOrder, in its order.
            std::sort(tied.begin(), tied.end(), [](const Tied& a, const Tied& b) {
                if (a.second < b.second)
                    return true;
                if (b.second < a.second)
                    return false;
                if (a.third < b.third)
                    return true;
                if (b.third < a.third)
                    return false;
                return a.index < b.index;
            });
            for (std::size_t t = i; t < j; ++t)
                order[t] = tied[t - i].at;
        }
        i = j;
    }
    return order;
}

template <typename T>
void KDTree<T>::sortByAxis(Nodes& list, std::size_t first, std::size_t last, std::uint8_t axis)
{
    if (first >= last)
        return;
    assert(last < list.size());
    // Everything the order needs is copied out of the points once; the sort
    // itself then never touches a point.
    const auto begin = list.begin() + static_cast<std::ptrdiff_t>(first);
    const Nodes input(begin, list.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    const std::vector<std::uint32_t> order = orderOnAxis(keysOf(input.begin(), input.end()), axis);
    for (std::size_t i = 0; i < order.size(); ++i)
        list[first + i] = input[order[i]];
}

template <typename T>
BinaryTree* KDTree<T>::buildTree(const Nodes& xs, const Nodes& ys, const Nodes& zs, std::uint8_t axis)
{
    assert(xs.size() == ys.size() && xs.size() == zs.size());
    const std::size_t n = xs.size();
    if (n == 0)
        return nullptr;
    assert(n <= std::numeric_limits<std::uint32_t>::max());

    // Each point's place in ys and zs, found through its index.
    std::size_t highest = 0;
    for (const ReconNode* node : xs)
        highest = std::max<std::size_t>(highest, node->index);
    std::vector<std::uint32_t> placeInY(highest + 1);
    std::vector<std::uint32_t> placeInZ(highest + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) {
            __builtin_prefetch(&ys[i + kAhead]->index);
            __builtin_prefetch(&zs[i + kAhead]->index);
        }
        assert(ys[i]->index <= highest && zs[i]->index <= highest);
        placeInY[ys[i]->index] = static_cast<std::uint32_t>(i);
        placeInZ[zs[i]->index] = static_cast<std::uint32_t>(i);
    }

    BuildLists lists;
    lists.byAxis[0].resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kAhead < n)
            __builtin_prefetch(&xs[i + kAhead]->index);
        lists.byAxis[0][i] = {{static_cast<std::uint32_t>(i), placeInY[xs[i]->index], placeInZ[xs[i]->index]}};
    }

    std::vector<Planned> plan = planTree(lists, axis);
    // The points and split values behind the places are looked up in one
    // pass, where the lookups can overlap instead of each waiting for memory
    // in the middle of the recursion.
    const Nodes* sorted[3] = {&xs, &ys, &zs};
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (i + kAhead < plan.size()) {
            const Planned& ahead = plan[i + kAhead];
            __builtin_prefetch(&(*sorted[ahead.leaf ? 0 : ahead.axis])[ahead.place]);
        }
        Planned& step = plan[i];
        if (step.leaf)
            step.point = xs[step.place];
        else
            step.value = coordinate(((*sorted[step.axis])[step.place])->position, step.axis);
    }
    std::size_t next = 0;
    return makeNodes(plan, next);
}

template <typename T>
std::vector<typename KDTree<T>::Planned> KDTree<T>::planTree(BuildLists& lists, std::uint8_t axis)
{
    const std::size_t n = lists.byAxis[0].size();
    for (std::uint8_t a = 1; a < 3; ++a) {
        lists.byAxis[a].resize(n);
        for (const Ranked& point : lists.byAxis[0])
            lists.byAxis[a][point.rank[a]] = point;
    }
    lists.spill.resize(n);
    // The splits only need places; what stands behind them is looked up
    // afterwards.
    std::vector<Planned> plan;
    plan.reserve(2 * n - 1);
    planRange(lists, 0, n, axis, plan);
    return plan;
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
        keys[i] = {{node->position.x, node->position.y, node->position.z}, static_cast<std::uint32_t>(node->index),
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
        return storage_.make<BinaryTree>(storage_.make<KDReconNode>(nodes[begin->place]));
    }

    // After the selection the first k + 1 keys are the ceil(n/2) points of
    // the left side and begin[k] is the median, exactly the split of the
    // sorted lists; the order within each side does not matter.
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
    BinaryTree* node = storage_.make<BinaryTree>(storage_.make<KDSplane>(CGSplane{median->coordinate[axis], axis}));
    // The whole left subtree is made before the right one, as buildTree does.
    const std::uint8_t next = static_cast<std::uint8_t>((axis + 1) % 3);
    node->attachLeft(selectTree(nodes, begin, median + 1, next));
    node->attachRight(selectTree(nodes, median + 1, end, next));
    return node;
}

template <typename T>
void KDTree<T>::planRange(BuildLists& lists, std::size_t begin, std::size_t end, std::uint8_t axis,
                          std::vector<Planned>& plan)
{
    const std::size_t n = end - begin;
    if (n == 1) {
        plan.push_back({lists.byAxis[0][begin].rank[0], axis, true, T{}, nullptr});
        return;
    }

    const std::size_t k = static_cast<std::size_t>(std::ceil(static_cast<double>(n) * 0.5)) - 1;
    const Ranked m = lists.byAxis[axis][begin + k];
    plan.push_back({m.rank[axis], axis, false, T{}, nullptr});

    // The axis list splits by position; the other two are partitioned
    // against the median in the same key order, keeping their own order.
    // With a total order both ways pick the same ceil(n/2) points.
    for (std::uint8_t other = 0; other < 3; ++other) {
        if (other == axis)
            continue;
        std::vector<Ranked>& list = lists.byAxis[other];
        std::size_t kept = begin;
        std::size_t spilled = 0;
        // Which side a point goes to is a coin toss for the branch
        // predictor, so each point is written to both places and only the
        // right one advances.
        for (std::size_t i = begin; i < end; ++i) {
            const Ranked point = list[i];
            const bool left = point.rank[axis] <= m.rank[axis];
            list[kept] = point;
            lists.spill[spilled] = point;
            kept += left ? 1 : 0;
            spilled += left ? 0 : 1;
        }
        assert(kept == begin + k + 1);
        std::copy(lists.spill.begin(), lists.spill.begin() + static_cast<std::ptrdiff_t>(spilled),
                  list.begin() + static_cast<std::ptrdiff_t>(kept));
    }

    const std::uint8_t next = static_cast<std::uint8_t>((axis + 1) % 3);
    planRange(lists, begin, begin + k + 1, next, plan);
    planRange(lists, begin + k + 1, end, next, plan);
}

template <typename T>
BinaryTree* KDTree<T>::makeNodes(const std::vector<Planned>& plan, std::size_t& next)
{
    const Planned& step = plan[next++];
    if (step.leaf)
        return storage_.make<BinaryTree>(storage_.make<KDReconNode>(step.point));
    BinaryTree* node = storage_.make<BinaryTree>(storage_.make<KDSplane>(CGSplane{step.value, step.axis}));
    // The whole left subtree is made before the right one, as it was planned.
    node->attachLeft(makeNodes(plan, next));
    node->attachRight(makeNodes(plan, next));
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
    rangeSearchIn(out, node, low, high, *range);
}

template <typename T>
template <typename Range>
void KDTree<T>::rangeSearchIn(Nodes& out, const BinaryTree* node, const CGVertex& low, const CGVertex& high,
                              const Range& range)
{
    CGVertex boxLow;
    CGVertex boxHigh;
    range.bounds(boxLow, boxHigh);
    searchBelow(out, node, low, high, range, boxLow, boxHigh);
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
               boxHigh.y < step.high.y && boxHigh.z < step.high.z && boxLow.x <= boxHigh.x &&
               boxLow.y <= boxHigh.y && boxLow.z <= boxHigh.z;
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
            const unsigned leftInside =
                (current.inside & ~(1u << (3 + a))) | (highSideInside(a, v) ? 1u : 0u) << (3 + a);
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
