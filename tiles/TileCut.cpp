#include "tiles/TileCut.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double coordinate(const CGVertex& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

// The value std::nth_element would place at k among the n values valueAt
// gives. On many values a sorted sample brackets it first: one pass keeps
// only the values within the bracket, and the selection runs on those.
// Where the bracket misses, or a value is not a number (which orders
// nothing), every value is copied out and selected from.
template <typename ValueAt>
double kthSmallest(std::size_t n, std::size_t k, const ValueAt& valueAt)
{
    constexpr std::size_t kLarge = std::size_t{1} << 16;
    constexpr std::size_t kSample = 1024;
    constexpr std::size_t kMargin = 32;
    const auto whole = [&]() {
        std::vector<double> values(n);
        for (std::size_t i = 0; i < n; ++i)
            values[i] = valueAt(i);
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
        return values[k];
    };
    if (n < kLarge)
        return whole();
    const std::size_t stride = n / kSample;
    std::vector<double> sample(kSample);
    for (std::size_t i = 0; i < kSample; ++i) {
        sample[i] = valueAt(i * stride);
        if (std::isnan(sample[i]))
            return whole();
    }
    std::sort(sample.begin(), sample.end());
    const std::size_t at = std::min(kSample - 1, k / stride);
    const double low = sample[at > kMargin ? at - kMargin : 0];
    const double high = sample[std::min(kSample - 1, at + kMargin)];
    // The bracket holds about a sixteenth of the values; one that holds
    // more than twice that has missed anyway. Branch-free, as the values
    // fall either side at random.
    std::vector<double> within(2 * stride * 2 * kMargin);
    std::size_t kept = 0;
    std::size_t below = 0;
    std::size_t unordered = 0;
    for (std::size_t i = 0; i < n && kept < within.size(); ++i) {
        const double v = valueAt(i);
        below += static_cast<std::size_t>(v < low);
        within[kept] = v;
        kept += static_cast<std::size_t>(v >= low && v <= high);
        unordered += static_cast<std::size_t>(std::isnan(v));
    }
    if (kept == within.size() || unordered != 0 || k < below || k - below >= kept)
        return whole();
    const auto place = within.begin() + static_cast<std::ptrdiff_t>(k - below);
    std::nth_element(within.begin(), place, within.begin() + static_cast<std::ptrdiff_t>(kept));
    return *place;
}

}  // namespace

std::uint32_t leftShare(std::uint64_t members, unsigned leftTiles, unsigned tiles)
{
    return static_cast<std::uint32_t>(members * leftTiles / tiles);
}

TileSplit splitHere(const std::vector<CGVertex>& positions, const std::vector<std::uint32_t>& members,
                    unsigned leftTiles, unsigned tiles)
{
    TileSplit split;
    if (members.empty())
        return split;
    double low[3];
    double high[3];
    for (int axis = 0; axis < 3; ++axis)
        low[axis] = high[axis] = coordinate(positions[members.front()], axis);
    for (std::uint32_t i : members) {
        for (int axis = 0; axis < 3; ++axis) {
            const double v = coordinate(positions[i], axis);
            low[axis] = std::min(low[axis], v);
            high[axis] = std::max(high[axis], v);
        }
    }
    for (int axis = 1; axis < 3; ++axis) {
        if (high[axis] - low[axis] > high[split.axis] - low[split.axis])
            split.axis = axis;
    }
    const std::size_t k = std::min<std::size_t>(leftShare(members.size(), leftTiles, tiles), members.size() - 1);
    const int axis = split.axis;
    split.value =
        kthSmallest(members.size(), k, [&](std::size_t i) { return coordinate(positions[members[i]], axis); });
    return split;
}

TileCut::TileCut(const std::vector<CGVertex>& positions, unsigned tiles, const SplitRule& rule)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const TileBox all{{-kInf, -kInf, -kInf}, {kInf, kInf, kInf}};
    std::vector<std::uint32_t> members(positions.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        members[i] = static_cast<std::uint32_t>(i);
    build(positions, members, std::max(1u, tiles), all, rule);
}

int TileCut::build(const std::vector<CGVertex>& positions, std::vector<std::uint32_t>& members, unsigned tiles,
                   const TileBox& box, const SplitRule& rule)
{
    const int here = static_cast<int>(nodes_.size());
    nodes_.emplace_back();
    if (tiles == 1) {
        nodes_[here].tile = static_cast<unsigned>(cells_.size());
        cells_.push_back(box);
        return here;
    }
    const unsigned leftTiles = tiles / 2;
    const TileSplit split = rule(positions, members, leftTiles, tiles);
    // A side of one tile is a leaf, which needs no members.
    std::vector<std::uint32_t> left;
    std::vector<std::uint32_t> right;
    if (leftTiles > 1 || tiles - leftTiles > 1) {
        for (std::uint32_t i : members)
            (coordinate(positions[i], split.axis) < split.value ? left : right).push_back(i);
    }
    std::vector<std::uint32_t>().swap(members);
    TileBox leftBox = box;
    TileBox rightBox = box;
    leftBox.high[split.axis] = split.value;
    rightBox.low[split.axis] = split.value;
    nodes_[here].split = split;
    const int l = build(positions, left, leftTiles, leftBox, rule);
    const int r = build(positions, right, tiles - leftTiles, rightBox, rule);
    nodes_[here].left = l;
    nodes_[here].right = r;
    return here;
}

unsigned TileCut::tileOf(const CGVertex& p) const
{
    int at = 0;
    while (nodes_[at].left >= 0) {
        const Node& node = nodes_[at];
        at = coordinate(p, node.split.axis) < node.split.value ? node.left : node.right;
    }
    return nodes_[at].tile;
}

double TileCut::wallDistance(unsigned tile, const CGVertex& p) const
{
    const TileBox& box = cells_[tile];
    double nearest = std::numeric_limits<double>::infinity();
    for (int axis = 0; axis < 3; ++axis) {
        const double v = coordinate(p, axis);
        if (std::isfinite(box.low[axis]))
            nearest = std::min(nearest, std::fabs(v - box.low[axis]));
        if (std::isfinite(box.high[axis]))
            nearest = std::min(nearest, std::fabs(box.high[axis] - v));
    }
    return nearest;
}

double TileCut::distanceTo(unsigned tile, const CGVertex& p) const
{
    const TileBox& box = cells_[tile];
    double squared = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double v = coordinate(p, axis);
        const double out = v < box.low[axis] ? box.low[axis] - v : v > box.high[axis] ? v - box.high[axis] : 0.0;
        squared += out * out;
    }
    return std::sqrt(squared);
}
