#pragma once

#include "geometry/CGVertex.h"

#include <cstdint>
#include <functional>
#include <vector>

// A box with sides at infinity where a cell reaches the edge of space.
struct TileBox {
    double low[3];
    double high[3];
};

// One cut of a cell: points with coordinate axis below value go left.
struct TileSplit {
    int axis = 0;
    double value = 0.0;
};

// Chooses the cut of the cell holding the points members (places in
// positions) that will hold leftTiles of its tiles on the left. In a run
// over several processes members are this process's share of the cell and
// the rule agrees the cut with the others; every process gets the same.
using SplitRule =
    std::function<TileSplit(const std::vector<CGVertex>& positions, const std::vector<std::uint32_t>& members,
                            unsigned leftTiles, unsigned tiles)>;

// The cut made on one process: the longest side of the members' box (the
// first of equals), at the coordinate with leftTiles/tiles of the members
// below it, so that the halves hold balanced counts.
TileSplit splitHere(const std::vector<CGVertex>& positions, const std::vector<std::uint32_t>& members,
                    unsigned leftTiles, unsigned tiles);

// How many of a cell's members points the cut aims to put on the left:
// the cut lies at the coordinate of this place (from 0) in sorted order,
// which every rule must pick so that all give the same cut.
std::uint32_t leftShare(std::uint64_t members, unsigned leftTiles, unsigned tiles);

// Space cut into tiles by median splits, the cells numbered left before
// right. Depends on the points and the count of tiles alone.
class TileCut {
public:
    TileCut() = default;
    // Cuts space for tiles cells (at least one) around positions.
    TileCut(const std::vector<CGVertex>& positions, unsigned tiles, const SplitRule& rule = splitHere);

    unsigned tiles() const { return static_cast<unsigned>(cells_.size()); }
    const TileBox& cell(unsigned tile) const { return cells_[tile]; }

    // The tile whose cell holds p: below a cut's value is left, at or above
    // it right, so every point has exactly one.
    unsigned tileOf(const CGVertex& p) const;

    // How far p, inside the cell of tile, lies from the nearest side of it
    // that another cell shares; infinite for a cell with no such side.
    double wallDistance(unsigned tile, const CGVertex& p) const;

    // How far p lies from the cell of tile: 0 inside it.
    double distanceTo(unsigned tile, const CGVertex& p) const;

private:
    struct Node {
        TileSplit split;
        int left = -1;  // children in nodes_; -1 in a leaf
        int right = -1;
        unsigned tile = 0;  // a leaf's tile
    };
    int build(const std::vector<CGVertex>& positions, std::vector<std::uint32_t>& members, unsigned tiles,
              const TileBox& box, const SplitRule& rule);

    std::vector<Node> nodes_;  // the root first
    std::vector<TileBox> cells_;
};
