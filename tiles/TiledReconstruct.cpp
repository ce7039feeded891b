#include "tiles/TiledReconstruct.h"

#include "tiles/EngineAdaptor.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

// The positions as nanoflann reads them.
struct Cloud {
    const std::vector<CGVertex>* points;

    std::size_t kdtree_get_point_count() const { return points->size(); }

    double kdtree_get_pt(std::size_t i, std::size_t axis) const
    {
        const CGVertex& p = (*points)[i];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    }

    template <class Box>
    bool kdtree_get_bbox(Box&) const
    {
        return false;
    }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>, Cloud, 3, std::uint32_t>;

// A few thousand distances give the median to well within what the widths
// need, at a small part of a tile's cost.
constexpr std::size_t kSpacingSamples = 4096;

CGVertex centroid(const CGVertex& a, const CGVertex& b, const CGVertex& c)
{
    return {(a.x + b.x + c.x) / 3.0, (a.y + b.y + c.y) / 3.0, (a.z + b.z + c.z) / 3.0};
}

std::uint32_t localPlace(const std::vector<std::uint32_t>& ids, std::uint32_t id)
{
    return static_cast<std::uint32_t>(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
}

}  // namespace

SeamReach seamReach(const TileCut& cut, unsigned tile, const TileWidths& widths, const CGVertex& p)
{
    const double wall = cut.wallDistance(tile, p);
    return wall < widths.front ? SeamReach::front : wall < widths.zone ? SeamReach::zone : SeamReach::beyond;
}

TileWidths widthsFor(double spacing)
{
    return {kBandSpacings * spacing, kTrimSpacings * spacing, kFrontSpacings * spacing, kZoneSpacings * spacing};
}

double pointSpacing(const std::vector<CGVertex>& positions)
{
    if (positions.size() < 2)
        return 0.0;
    const Cloud cloud{&positions};
    Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    tree.buildIndex();
    const std::size_t step = std::max<std::size_t>(1, positions.size() / kSpacingSamples);
    std::vector<double> distances;
    for (std::size_t i = 0; i < positions.size(); i += step) {
        const CGVertex& p = positions[i];
        const double query[3] = {p.x, p.y, p.z};
        std::uint32_t found[2];
        double squared[2];
        const std::size_t n = tree.knnSearch(query, 2, found, squared);
        // The point itself comes first, unless a twin sits on it.
        if (n == 2 && squared[1] > 0.0)
            distances.push_back(std::sqrt(squared[1]));
    }
    if (distances.empty())
        return 0.0;
    const auto middle = distances.begin() + static_cast<std::ptrdiff_t>(distances.size() / 2);
    std::nth_element(distances.begin(), middle, distances.end());
    return *middle;
}

Faces triangulateTile(const TileCut& cut, unsigned tile, const PointSet& points, double trim, bool useKd)
{
    const Faces faces = triangulatePoints(points.positions, points.normals, useKd);
    std::vector<bool> deep(points.ids.size());
    for (std::size_t i = 0; i < deep.size(); ++i) {
        const CGVertex& p = points.positions[i];
        deep[i] = cut.tileOf(p) == tile && cut.wallDistance(tile, p) >= trim;
    }
    Faces kept;
    for (const Face& face : faces) {
        if (deep[face[0]] && deep[face[1]] && deep[face[2]])
            kept.push_back({points.ids[face[0]], points.ids[face[1]], points.ids[face[2]]});
    }
    return kept;
}

SeamFaces closeSeams(const TileCut& cut, const PointSet& points, const std::vector<SeamReach>& reach,
                     const Faces& kept, bool useKd)
{
    std::vector<bool> front(reach.size());
    for (std::size_t i = 0; i < reach.size(); ++i)
        front[i] = reach[i] == SeamReach::front;
    Faces given;
    given.reserve(kept.size());
    for (const Face& face : kept)
        given.push_back({localPlace(points.ids, face[0]), localPlace(points.ids, face[1]),
                         localPlace(points.ids, face[2])});
    const Faces grown = growFrom(points.positions, points.normals, given, front, useKd);
    SeamFaces seams;
    seams.faces.reserve(grown.size());
    seams.tiles.reserve(grown.size());
    for (const Face& face : grown) {
        if (reach[face[0]] == SeamReach::beyond || reach[face[1]] == SeamReach::beyond ||
            reach[face[2]] == SeamReach::beyond)
            continue;
        const CGVertex middle =
            centroid(points.positions[face[0]], points.positions[face[1]], points.positions[face[2]]);
        seams.tiles.push_back(cut.tileOf(middle));
        seams.faces.push_back({points.ids[face[0]], points.ids[face[1]], points.ids[face[2]]});
    }
    return seams;
}

Faces joinTiles(const std::vector<Faces>& kept, const SeamFaces& seams)
{
    std::size_t total = seams.faces.size();
    for (const Faces& faces : kept)
        total += faces.size();
    Faces all;
    all.reserve(total);
    for (unsigned tile = 0; tile < kept.size(); ++tile) {
        all.insert(all.end(), kept[tile].begin(), kept[tile].end());
        for (std::size_t i = 0; i < seams.faces.size(); ++i) {
            if (seams.tiles[i] == tile)
                all.push_back(seams.faces[i]);
        }
    }
    return all;
}

void forEachTile(unsigned count, unsigned threads, const std::function<void(unsigned)>& func)
{
    threads = std::max(1u, std::min(threads, count));
    if (threads == 1) {
        for (unsigned i = 0; i < count; ++i)
            func(i);
        return;
    }
    std::atomic<unsigned> next{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&]() {
            for (unsigned i = next++; i < count; i = next++)
                func(i);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
}

Faces reconstructTiled(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, unsigned tiles,
                       unsigned threads, bool useKd)
{
    if (tiles <= 1)
        return triangulatePoints(positions, normals, useKd);
    const TileCut cut(positions, tiles);
    std::vector<unsigned> owner(positions.size());
    std::vector<std::vector<CGVertex>> own(tiles);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        owner[i] = cut.tileOf(positions[i]);
        own[owner[i]].push_back(positions[i]);
    }
    std::vector<TileWidths> widths(tiles);
    std::vector<Faces> kept(tiles);
    forEachTile(tiles, threads, [&](unsigned tile) {
        widths[tile] = widthsFor(pointSpacing(own[tile]));
        std::vector<CGVertex>().swap(own[tile]);
        PointSet points;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            if (owner[i] == tile || cut.distanceTo(tile, positions[i]) < widths[tile].band)
                points.add(static_cast<std::uint32_t>(i), positions[i], normals[i]);
        }
        kept[tile] = triangulateTile(cut, tile, points, widths[tile].trim, useKd);
    });

    // The seams see the points near the walls and every kept face that
    // touches them: those faces' other points too, so the sides they leave
    // open are known for what they are.
    std::vector<bool> zone(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        zone[i] = cut.wallDistance(owner[i], positions[i]) < widths[owner[i]].zone;
    std::vector<bool> seen = zone;
    Faces near;
    for (const Faces& faces : kept) {
        for (const Face& face : faces) {
            if (zone[face[0]] || zone[face[1]] || zone[face[2]]) {
                near.push_back(face);
                seen[face[0]] = seen[face[1]] = seen[face[2]] = true;
            }
        }
    }
    PointSet points;
    std::vector<SeamReach> reach;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (seen[i]) {
            points.add(static_cast<std::uint32_t>(i), positions[i], normals[i]);
            reach.push_back(seamReach(cut, owner[i], widths[owner[i]], positions[i]));
        }
    }
    return joinTiles(kept, closeSeams(cut, points, reach, near, useKd));
}
