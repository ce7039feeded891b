#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Surface.h"
#include "tiles/TileCut.h"

#include <cstdint>
#include <functional>
#include <vector>

// Points handed to one piece of work: their places in the whole cloud, in
// ascending order, with their positions and normals.
struct PointSet {
    std::vector<std::uint32_t> ids;
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;

    void add(std::uint32_t id, const CGVertex& position, const CGVector& normal)
    {
        ids.push_back(id);
        positions.push_back(position);
        normals.push_back(normal);
    }
};

// The widths a tile works with, all in its points' spacing: the band of
// neighbours' points it sees beyond its walls, the strip along each wall
// whose faces the seams make instead, the reach of the open sides the
// seams advance, and the zone whose faces the seams see.
struct TileWidths {
    double band = 0.0;
    double trim = 0.0;
    double front = 0.0;
    double zone = 0.0;
};
constexpr double kBandSpacings = 8.0;
constexpr double kTrimSpacings = 3.0;
constexpr double kFrontSpacings = 5.0;
constexpr double kZoneSpacings = 9.0;
TileWidths widthsFor(double spacing);

// The median distance from a point to its nearest other point, over an
// even sample of positions; 0 for fewer than two.
double pointSpacing(const std::vector<CGVertex>& positions);

// The faces a tile keeps, as places in the whole cloud: those the engine
// grows over points (its own and its band, in ascending place order) whose
// corners all lie in the tile's cell, at least trim from its walls.
Faces triangulateTile(const TileCut& cut, unsigned tile, const PointSet& points, double trim, bool useKd);

// The faces that close the seams, with the tile whose cell holds each
// one's centroid.
struct SeamFaces {
    Faces faces;
    std::vector<unsigned> tiles;
};

// Where a point the seams see lies: near enough the wall for its open
// sides to be advanced, in the zone whose faces are all known, or beyond
// it, a corner of a known face whose other faces are not.
enum class SeamReach : unsigned char { beyond, zone, front };

// Where p, in the cell of tile, lies for the seams.
SeamReach seamReach(const TileCut& cut, unsigned tile, const TileWidths& widths, const CGVertex& p);

// Closes the seams over points (ascending places): kept lays down the
// tiles' faces near the walls, and their open sides between points in
// reach of the front are advanced by the engine over the strips between
// them. A new face at a point beyond the zone could sit on a side whose
// other faces are unknown here, so none is kept.
SeamFaces closeSeams(const TileCut& cut, const PointSet& points, const std::vector<SeamReach>& reach,
                     const Faces& kept, bool useKd);

// Every tile's kept faces, then the seam faces in its cell, tile by tile.
Faces joinTiles(const std::vector<Faces>& kept, const SeamFaces& seams);

// Runs func(0) ... func(count - 1) on up to threads threads.
void forEachTile(unsigned count, unsigned threads, const std::function<void(unsigned)>& func);

// The whole surface of positions cut into tiles, run on threads threads;
// the faces depend on the count of tiles alone. One tile is the single
// front itself.
Faces reconstructTiled(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, unsigned tiles,
                       unsigned threads, bool useKd);
