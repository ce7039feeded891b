#include "kdtree/LeafBuckets.h"

#include "records/Edge.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

bool LeafBuckets::build(const KDTree<double>& tree)
{
    clear();
    const std::size_t count = tree.size();
    if (count == 0 || count > std::numeric_limits<std::uint32_t>::max())
        return false;
    // Deep enough that every bucket holds at least kBucket points: the
    // sides of a split differ by one point at most, so the smallest node
    // at a depth holds at least count / 2^depth points, rounded down.
    depth_ = 0;
    while ((count >> (depth_ + 1)) >= kBucket)
        ++depth_;
    entries_ = &tree.leaves();
    splits_.assign((std::size_t{1} << depth_) - 1, 0.0);
    starts_.assign((std::size_t{1} << depth_) + 1, 0);
    copy(tree, tree.root(), 0, 0);
    starts_.back() = static_cast<std::uint32_t>(count);
    const std::size_t buckets = starts_.size() - 1;
    const std::size_t inner = splits_.size();
    Box none;
    for (int axis = 0; axis < 3; ++axis) {
        none.low[axis] = std::numeric_limits<float>::infinity();
        none.high[axis] = -std::numeric_limits<float>::infinity();
    }
    boxes_.assign(inner + buckets, none);
    open_.assign(inner + buckets, 0);
    std::uint32_t highestIndex = 0;
    for (const ReconNode* point : *entries_)
        highestIndex = std::max(highestIndex, point->index);
    bucketOf_.assign(std::size_t{highestIndex} + 1, std::numeric_limits<std::uint32_t>::max());
    for (std::size_t b = 0; b < buckets; ++b) {
        Box& own = boxes_[inner + b];
        for (std::uint32_t i = starts_[b]; i < starts_[b + 1]; ++i) {
            const ReconNode* point = (*entries_)[i];
            const double at[3] = {point->position.x, point->position.y, point->position.z};
            for (int axis = 0; axis < 3; ++axis) {
                own.low[axis] = std::min(own.low[axis], roundedDown(at[axis]));
                own.high[axis] = std::max(own.high[axis], roundedUp(at[axis]));
            }
            bucketOf_[point->index] = static_cast<std::uint32_t>(b);
            if (!isClosed(point))
                ++open_[inner + b];
        }
        for (int axis = 0; axis < 3; ++axis)
            boxesFinite_ = boxesFinite_ && std::isfinite(own.low[axis]) && std::isfinite(own.high[axis]);
    }
    axes_.assign(inner, 0);
    for (std::size_t h = 1; h < inner; ++h)
        axes_[h] = static_cast<std::uint8_t>((axes_[(h - 1) / 2] + 1) % 3);
    for (std::size_t h = inner; h-- > 0;) {
        const Box& left = boxes_[2 * h + 1];
        const Box& right = boxes_[2 * h + 2];
        for (int axis = 0; axis < 3; ++axis) {
            boxes_[h].low[axis] = std::min(left.low[axis], right.low[axis]);
            boxes_[h].high[axis] = std::max(left.high[axis], right.high[axis]);
        }
        open_[h] = (open_[2 * h + 1] != 0 ? 1u : 0u) + (open_[2 * h + 2] != 0 ? 1u : 0u);
    }
    return true;
}

std::uint32_t LeafBuckets::nodeAbove(const CGVertex& low, const CGVertex& high) const
{
    const double lows[3] = {low.x, low.y, low.z};
    const double highs[3] = {high.x, high.y, high.z};
    std::uint32_t heap = 0;
    unsigned axis = 0;
    while (heap < splits_.size()) {
        const double v = splits_[heap];
        // Each side includes the plane, as the tree's descent has it.
        if (highs[axis] < v)
            heap = 2 * heap + 1;
        else if (lows[axis] > v)
            heap = 2 * heap + 2;
        else
            break;
        axis = axis == 2 ? 0 : axis + 1;
    }
    return heap;
}

void LeafBuckets::appendInBox(const CGVertex& low, const CGVertex& high, std::vector<ReconNode*>& out) const
{
    if (empty())
        return;
    const double lows[3] = {low.x, low.y, low.z};
    const double highs[3] = {high.x, high.y, high.z};
    std::uint32_t pending[64];
    std::size_t waiting = 0;
    pending[waiting++] = 0;
    while (waiting > 0) {
        const std::uint32_t heap = pending[--waiting];
        // A box holds every point under its node, so one that misses the
        // query box on an axis leaves nothing to find.
        const Box& around = boxes_[heap];
        bool misses = false;
        for (int axis = 0; axis < 3; ++axis)
            misses = misses || !(around.low[axis] <= highs[axis] && lows[axis] <= around.high[axis]);
        if (misses)
            continue;
        if (heap < splits_.size()) {
            pending[waiting++] = 2 * heap + 2;
            pending[waiting++] = 2 * heap + 1;
            continue;
        }
        const std::uint32_t bucket = heap - firstBucket();
        for (std::uint32_t i = starts_[bucket]; i < starts_[bucket + 1]; ++i) {
            ReconNode* point = (*entries_)[i];
            const CGVertex& p = point->position;
            if (low.x <= p.x && p.x <= high.x && low.y <= p.y && p.y <= high.y && low.z <= p.z && p.z <= high.z)
                out.push_back(point);
        }
    }
}

void LeafBuckets::adjustOpen(const ReconNode* point, int change)
{
    if (point->index >= bucketOf_.size())
        return;
    const std::uint32_t bucket = bucketOf_[point->index];
    if (bucket >= starts_.size() - 1)
        return;
    std::uint32_t heap = firstBucket() + bucket;
    open_[heap] = static_cast<std::uint32_t>(static_cast<int>(open_[heap]) + change);
    // Up from the bucket while a side goes from none open to some, or back.
    while (heap != 0 && open_[heap] == (change > 0 ? 1u : 0u)) {
        heap = (heap - 1) / 2;
        open_[heap] = static_cast<std::uint32_t>(static_cast<int>(open_[heap]) + change);
    }
}

float LeafBuckets::roundedDown(double value)
{
    constexpr float kLargest = std::numeric_limits<float>::max();
    if (value > kLargest)
        return kLargest;
    if (value < -kLargest)
        return -std::numeric_limits<float>::infinity();
    const float near = static_cast<float>(value);
    return static_cast<double>(near) <= value ? near : std::nextafter(near, -std::numeric_limits<float>::infinity());
}

float LeafBuckets::roundedUp(double value)
{
    constexpr float kLargest = std::numeric_limits<float>::max();
    if (value > kLargest)
        return std::numeric_limits<float>::infinity();
    if (value < -kLargest)
        return -kLargest;
    const float near = static_cast<float>(value);
    return static_cast<double>(near) >= value ? near : std::nextafter(near, std::numeric_limits<float>::infinity());
}

void LeafBuckets::clear()
{
    entries_ = nullptr;
    std::vector<double>().swap(splits_);
    std::vector<std::uint32_t>().swap(starts_);
    std::vector<Box>().swap(boxes_);
    std::vector<std::uint32_t>().swap(open_);
    std::vector<std::uint8_t>().swap(axes_);
    std::vector<std::uint32_t>().swap(bucketOf_);
    boxesFinite_ = true;
    depth_ = 0;
}

void LeafBuckets::copy(const KDTree<double>& tree, KDTree<double>::Node node, unsigned depth, std::size_t heap)
{
    if (depth == depth_) {
        starts_[heap - splits_.size()] = static_cast<std::uint32_t>(node.first);
        return;
    }
    // Every node above the buckets' depth holds at least two points, so it
    // splits.
    assert(!node.isLeaf() && node.axis == depth % 3);
    splits_[heap] = tree.plane(node).value;
    copy(tree, node.left(), depth + 1, 2 * heap + 1);
    copy(tree, node.right(), depth + 1, 2 * heap + 2);
}
