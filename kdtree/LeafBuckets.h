#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/BinaryTree.h"
#include "records/ReconNode.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The points of a built KD-tree in its left-to-right leaf order, side by
// side in one array, with the tree's upper splits: a copy of the tree's
// top that ends in buckets of a few points each. A box query over it costs
// a short descent and a pass over an array instead of a walk through a
// hundred scattered tree nodes. Only the points' addresses are kept: the
// engine lays its points out in space order, so reading their positions
// through them cost no measurable time, and copying the positions in cost
// 24 bytes a point.
//
// It answers a narrower question than the tree's query: which points a
// box query could reach, not which the tree's rules report. Every point
// inside the closed box is visited, in leaf order; so are some outside it
// (the rest of each bucket reached), which the caller tells apart itself.
class LeafBuckets {
public:
    // Copies the tree under root (split axes cycling x, y, z from the root,
    // the left side of each split taking ceil(n/2) of its n points, as
    // KDTree builds them) holding count points. False, leaving the buckets
    // empty, when the tree is not of that shape; root may be null.
    bool build(const BinaryTree* root, std::size_t count);

    void clear();
    bool empty() const { return entries_.empty(); }

    // Calls visit(point) for every point of every bucket whose region the
    // closed box [low, high] reaches by the tree's descent rules, in leaf
    // order. Nothing is visited when the box is empty or not a number on
    // an axis the descent asks about.
    template <typename Visit>
    void visitBox(const CGVertex& low, const CGVertex& high, Visit&& visit) const;

    // Buckets hold between this many points and twice as many, less one.
    static constexpr std::size_t kBucket = 4;

private:
    std::size_t copy(const BinaryTree* node, unsigned depth, std::size_t heap);

    std::vector<ReconNode*> entries_;    // not owned; in leaf order
    std::vector<double> splits_;         // the splits above the buckets, children of h at 2h + 1 and 2h + 2
    std::vector<std::uint32_t> starts_;  // where each bucket begins in entries_, and the end
    unsigned depth_ = 0;                 // how deep the buckets lie
    bool shaped_ = true;
};

template <typename Visit>
void LeafBuckets::visitBox(const CGVertex& low, const CGVertex& high, Visit&& visit) const
{
    if (entries_.empty())
        return;
    const double lows[3] = {low.x, low.y, low.z};
    const double highs[3] = {high.x, high.y, high.z};
    // Nodes by their place in splits_, with their depth; a bucket's place
    // past the splits picks its range out of starts_.
    struct Pending {
        std::uint32_t heap;
        std::uint32_t depth;
    };
    Pending pending[64];
    std::size_t waiting = 0;
    Pending current = {0, 0};
    const std::uint32_t firstBucket = static_cast<std::uint32_t>(splits_.size());
    for (;;) {
        if (current.heap >= firstBucket) {
            const std::uint32_t bucket = current.heap - firstBucket;
            for (std::uint32_t i = starts_[bucket]; i < starts_[bucket + 1]; ++i)
                visit(entries_[i]);
        } else {
            const unsigned axis = current.depth % 3;
            const double v = splits_[current.heap];
            // The tree's rules: each side includes the plane, and a box
            // that is empty or NaN on this axis goes nowhere.
            const bool valid = highs[axis] >= lows[axis];
            const bool left = valid && lows[axis] <= v;
            const bool right = valid && highs[axis] >= v;
            const Pending leftSide = {2 * current.heap + 1, current.depth + 1};
            const Pending rightSide = {2 * current.heap + 2, current.depth + 1};
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
