#include "tiles/TileCut.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double coordinate(const CGVertex& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
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
    std::vector<double> values(members.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        values[i] = coordinate(positions[members[i]], split.axis);
    const std::size_t k = std::min<std::size_t>(leftShare(members.size(), leftTiles, tiles), values.size() - 1);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    split.value = values[k];
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
