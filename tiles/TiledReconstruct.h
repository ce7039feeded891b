#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Surface.h"
#include "tiles/EngineAdaptor.h"
#include "tiles/TileCut.h"

#include <cstdint>
#include <functional>
#include <vector>

class Progress;

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
// whose faces the seams make instead, and the zone whose faces the seams
// see.
struct TileWidths {
    double band = 0.0;
    double trim = 0.0;
    double zone = 0.0;
};
constexpr double kBandSpacings = 8.0;
constexpr double kTrimSpacings = 3.0;
constexpr double kZoneSpacings = 9.0;
TileWidths widthsFor(double spacing);

// Unkeeps every patch of kept faces that lies wholly in the zone along
// the walls and meets no kept face beyond it through a side: once the trim
// has cut it off, the seams regrow its points with the strip around it,
// rather than leave it an island. faces index zone; keep is changed.
void dropCutOffPatches(const Faces& faces, const std::vector<bool>& zone, std::vector<bool>& keep);

// The median distance from a point to its nearest other point, over an
// even sample of positions; 0 for fewer than two. Of a large cloud only
// every step-th point is searched, and the median shrunk by sqrt(step),
// as thinning spreads points on a surface.
double pointSpacing(const std::vector<CGVertex>& positions);

// How many points of a cloud of count the spacing steps over at a time.
std::size_t spacingStep(std::size_t count);

// The same from every step-th point of a cloud (the first, the step+1-th,
// ...), as spacingStep gives it: what pointSpacing gives for that cloud.
double spacingOfSample(const std::vector<CGVertex>& sample, std::size_t step);

// What the seams need of one tile: its points in the zone along its
// walls (known: all their faces are in given) and the other corners of
// given (not known), in ascending place order; its kept faces that touch
// the zone; and the sides of those faces that lost their other face to
// the trim, where the seams start.
struct SeamPart {
    PointSet points;
    std::vector<bool> known;
    Faces given;
    Sides cut;
};

// What a tile keeps, as places in the whole cloud: the faces the engine
// grows over its points (its own and its band, in ascending place order),
// with the holes it left beyond the zone along the walls mended, whose
// corners all lie in its cell, at least the trim width from its walls, and
// what the seams need of it.
struct TileFaces {
    Faces faces;
    SeamPart seam;
};
// The points' positions and normals are lent to the engine while it runs
// and are there again on return, unless the whole cloud they were taken
// from is given: then they are left empty, and the seams' points are read
// from the cloud by place, which spares the copy. Where progress is
// given, the engine reports there and stops early when it says stop.
// threads is as the engine takes it (see triangulateLent).
struct WholeCloud {
    const std::vector<CGVertex>& positions;
    const std::vector<CGVector>& normals;
};
TileFaces triangulateTile(const TileCut& cut, unsigned tile, PointSet& points, const TileWidths& widths, bool useKd,
                          Progress* progress = nullptr, unsigned threads = 0, const WholeCloud* cloud = nullptr);

// The faces that close the seams, with the tile whose cell holds each
// one's centroid.
struct SeamFaces {
    Faces faces;
    std::vector<unsigned> tiles;
};

// Closes the seams from every tile's part, in tile order: the given faces
// are laid down and the engine advances the cut sides over the strips
// between them. A point that is not known may have faces the seams do not
// see, so the front never turns to one, and a seed's face that reaches one
// is not kept.
SeamFaces closeSeams(const TileCut& cut, const std::vector<SeamPart>& parts, bool useKd, unsigned threads = 0);

// Every tile's kept faces, then the seam faces in its cell, tile by tile.
Faces joinTiles(const std::vector<TileFaces>& kept, const SeamFaces& seams);

// Runs func(0) ... func(count - 1) on up to threads threads.
void forEachTile(unsigned count, unsigned threads, const std::function<void(unsigned)>& func);

// The whole surface of positions cut into tiles, run on threads threads,
// and no more: a thread no tile runs on helps build the trees; the faces
// depend on the count of tiles alone. One tile is the single
// front itself. Where progress is given, the tiles' triangles count there
// as made, and when it says stop every tile stops soon and nothing is
// returned.
Faces reconstructTiled(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, unsigned tiles,
                       unsigned threads, bool useKd, Progress* progress = nullptr);
