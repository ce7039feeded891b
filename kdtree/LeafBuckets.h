#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "records/ReconNode.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The points of a built KD-tree in its left-to-right leaf order (the
// tree's own array, shared) with the tree's upper splits: a copy of the
// tree's top that ends in buckets of a few points each, numbered as a
// complete binary tree. A box query over it costs a short descent and a
// pass over an array.
//
// Each bucket also keeps the box around its own points and how many of
// them are not closed, so that a search can pass over a bucket whose points
// all lie outside its range or can no longer take a triangle without
// reading them. The engine tells the buckets when a point closes or opens
// again (noteClosed, noteOpened).
//
// It answers a narrower question than the tree's query: which points a
// box query could reach, not which the tree's rules report. Every point
// inside the closed box is visited, in leaf order; so are some outside it
// (the rest of each bucket reached), which the caller tells apart itself.
class LeafBuckets {
public:
    // Copies the top of tree, which must outlive the buckets and not be
    // rebuilt while they live. False, leaving the buckets empty, when the
    // tree is empty.
    bool build(const KDTree<double>& tree);

    void clear();
    bool empty() const { return entries_ == nullptr; }

    // point, counted in its bucket, has closed (all its sides carry two
    // triangles) or has opened again (it was closed and gained a side).
    // Points the buckets do not hold are ignored.
    void noteClosed(const ReconNode* point) { adjustOpen(point, -1); }
    void noteOpened(const ReconNode* point) { adjustOpen(point, +1); }
    // point may close or open soon: its bucket's number is asked for from
    // memory now, so that noteClosed need not wait for it.
    void expectChange(const ReconNode* point) const
    {
        if (point->index < bucketOf_.size())
            __builtin_prefetch(&bucketOf_[point->index]);
    }

    // The box around a bucket's points, its corners rounded outwards, so
    // every point of the bucket lies inside it.
    struct Box {
        float low[3];
        float high[3];
    };

    // Appends to out every point inside the closed box [low, high], in no
    // particular order, passing over every part of the tree whose box
    // misses it.
    void appendInBox(const CGVertex& low, const CGVertex& high, std::vector<ReconNode*>& out) const;

    // Calls visit(bucket) for every bucket whose region the closed box
    // [low, high] reaches by the tree's descent rules, in leaf order.
    // Nothing is visited when the box is empty or not a number on an axis
    // the descent asks about.
    template <typename Visit>
    void visitBuckets(const CGVertex& low, const CGVertex& high, Visit&& visit) const;

    std::uint32_t bucketCount() const { return starts_.empty() ? 0 : static_cast<std::uint32_t>(starts_.size() - 1); }
    const Box& box(std::uint32_t bucket) const { return boxes_[firstBucket() + bucket]; }

    // The buckets as the leaves of a complete binary tree over the leaf
    // order, its nodes numbered from the root at 0, the children of h at
    // 2h + 1 and 2h + 2: the split tree above the buckets. Each node has
    // the box around all its points and knows whether any is not closed.
    const Box& nodeBox(std::uint32_t heap) const { return boxes_[heap]; }
    bool anyOpenBelow(std::uint32_t heap) const { return open_[heap] != 0; }
    bool isBucket(std::uint32_t heap) const { return heap >= firstBucket(); }
    std::uint32_t bucketAt(std::uint32_t heap) const { return heap - firstBucket(); }
    // The deepest node that the closed box [low, high] reaches alone by
    // the tree's descent rules: below it the box reaches both sides of a
    // split, or a bucket.
    std::uint32_t nodeAbove(const CGVertex& low, const CGVertex& high) const;
    // The split of the inner node heap: its axis and its value.
    std::uint32_t axisOf(std::uint32_t heap) const { return axes_[heap]; }
    double split(std::uint32_t heap) const { return splits_[heap]; }
    // Whether centre lies beyond the split of the inner node heap.
    bool centreIsRightOf(std::uint32_t heap, const CGVertex& centre) const
    {
        const double at[3] = {centre.x, centre.y, centre.z};
        return at[axisOf(heap)] > splits_[heap];
    }
    // Whether every box has finite corners: no point lies beyond the floats.
    bool boxesFinite() const { return boxesFinite_; }
    // How many points of bucket are not closed.
    unsigned open(std::uint32_t bucket) const { return open_[firstBucket() + bucket]; }
    // The bucket's points are those of entries from first to last, exclusive.
    std::uint32_t first(std::uint32_t bucket) const { return starts_[bucket]; }
    std::uint32_t last(std::uint32_t bucket) const { return starts_[bucket + 1]; }
    ReconNode* entry(std::uint32_t place) const { return (*entries_)[place]; }

    // Calls visit(point) for every point of every bucket whose region the
    // closed box [low, high] reaches by the tree's descent rules, in leaf
    // order. Nothing is visited when the box is empty or not a number on
    // an axis the descent asks about.
    template <typename Visit>
    void visitBox(const CGVertex& low, const CGVertex& high, Visit&& visit) const;

    // Buckets hold between this many points and twice as many, less one.
    static constexpr std::size_t kBucket = 4;

private:
    void copy(const KDTree<double>& tree, KDTree<double>::Node node, unsigned depth, std::size_t heap);
    void adjustOpen(const ReconNode* point, int change);
    std::uint32_t firstBucket() const { return static_cast<std::uint32_t>(splits_.size()); }

    // The nearest float at or below value, and at or above it.
    static float roundedDown(double value);
    static float roundedUp(double value);

    const Nodes* entries_ = nullptr;     // the tree's, in leaf order; null when empty
    std::vector<double> splits_;         // the splits above the buckets, children of h at 2h + 1 and 2h + 2
    std::vector<std::uint32_t> starts_;  // where each bucket begins in entries_, and the end
    std::vector<Box> boxes_;             // by node of the tree over the buckets
    // By bucket: its points that are not closed; by node above: how many
    // of its two sides have any. A point closing or opening changes the
    // nodes above only where a side's state changes, so most changes stop
    // at their bucket.
    std::vector<std::uint32_t> open_;
    std::vector<std::uint32_t> bucketOf_;  // by node index: the bucket holding it
    bool boxesFinite_ = true;
    std::vector<std::uint8_t> axes_;  // by inner node: its split axis
    unsigned depth_ = 0;              // how deep the buckets lie
};

template <typename Visit>
void LeafBuckets::visitBox(const CGVertex& low, const CGVertex& high, Visit&& visit) const
{
    visitBuckets(low, high, [&](std::uint32_t bucket) {
        for (std::uint32_t i = starts_[bucket]; i < starts_[bucket + 1]; ++i)
            visit((*entries_)[i]);
    });
}

template <typename Visit>
void LeafBuckets::visitBuckets(const CGVertex& low, const CGVertex& high, Visit&& visit) const
{
    if (empty())
        return;
    const double lows[3] = {low.x, low.y, low.z};
    const double highs[3] = {high.x, high.y, high.z};
    // Nodes by their place in splits_, with their axis; a bucket's place
    // past the splits picks its range out of starts_.
    struct Pending {
        std::uint32_t heap;
        std::uint32_t axis;
    };
    Pending pending[64];
    std::size_t waiting = 0;
    Pending current = {0, 0};
    for (;;) {
        if (isBucket(current.heap)) {
            visit(bucketAt(current.heap));
        } else {
            const unsigned axis = current.axis;
            const std::uint32_t next = axis == 2 ? 0 : axis + 1;
            const double v = splits_[current.heap];
            // The tree's rules: each side includes the plane, and a box
            // that is empty or NaN on this axis goes nowhere.
            const bool valid = highs[axis] >= lows[axis];
            const bool left = valid && lows[axis] <= v;
            const bool right = valid && highs[axis] >= v;
            const Pending leftSide = {2 * current.heap + 1, next};
            const Pending rightSide = {2 * current.heap + 2, next};
            if (left && right)
                pending[waiting++] = rightSide;
            if (left) {
                current = leftSide;
                continue;
            }
            if (right) {
                current = rightSide;
                continue;
            }
        }
        if (waiting == 0)
            return;
        current = pending[--waiting];
    }
}
