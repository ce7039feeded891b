#include "tiles/TiledReconstruct.h"

#include "geometry/Progress.h"
#include "tiles/EngineAdaptor.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <unordered_map>
#include <unordered_set>

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
constexpr std::size_t kSpacingPoints = std::size_t{1} << 16;

CGVertex centroid(const CGVertex& a, const CGVertex& b, const CGVertex& c)
{
    return {(a.x + b.x + c.x) / 3.0, (a.y + b.y + c.y) / 3.0, (a.z + b.z + c.z) / 3.0};
}

std::uint32_t localPlace(const std::vector<std::uint32_t>& ids, std::uint32_t id)
{
    return static_cast<std::uint32_t>(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
}

std::uint64_t sideKey(std::uint32_t a, std::uint32_t b)
{
    return std::uint64_t{std::min(a, b)} << 32 | std::max(a, b);
}

std::uint32_t rootOf(std::vector<std::uint32_t>& parent, std::uint32_t f)
{
    while (parent[f] != f) {
        parent[f] = parent[parent[f]];
        f = parent[f];
    }
    return f;
}

}  // namespace

TileWidths widthsFor(double spacing)
{
    return {kBandSpacings * spacing, kTrimSpacings * spacing, kZoneSpacings * spacing};
}

namespace {

// dropCutOffPatches over the kept faces with a corner in the zone, near
// (ascending), as the whole list would have them: no other face can be
// cut off or anchor one.
void dropCutOffPatches(const Faces& faces, const std::vector<bool>& zone, std::vector<bool>& keep,
                       const std::vector<std::uint32_t>& near)
{
    // Near faces with every corner in the zone, joined through shared
    // sides; any other near face reaches beyond the zone.
    const std::size_t count = near.size();
    std::vector<std::uint32_t> parent(count);
    std::vector<bool> inside(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        parent[i] = i;
        const Face& face = faces[near[i]];
        inside[i] = zone[face[0]] && zone[face[1]] && zone[face[2]];
    }
    std::vector<bool> anchored(count);
    std::unordered_map<std::uint64_t, std::uint32_t> firstOnSide;
    firstOnSide.reserve(3 * count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const Face& face = faces[near[i]];
        for (int k = 0; k < 3; ++k) {
            const auto [at, fresh] = firstOnSide.try_emplace(sideKey(face[k], face[(k + 1) % 3]), i);
            if (fresh)
                continue;
            const std::uint32_t j = at->second;
            if (inside[i] && inside[j]) {
                parent[rootOf(parent, i)] = rootOf(parent, j);
            } else if (inside[i] != inside[j]) {
                anchored[inside[i] ? i : j] = true;
            }
        }
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (inside[i] && anchored[i])
            anchored[rootOf(parent, i)] = true;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (inside[i] && !anchored[rootOf(parent, i)])
            keep[near[i]] = false;
    }
}

}  // namespace

void dropCutOffPatches(const Faces& faces, const std::vector<bool>& zone, std::vector<bool>& keep)
{
    // A face that shares a side with one inside the zone has two corners
    // there, so faces clear of it need no look.
    std::vector<std::uint32_t> near;
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        if (keep[f] && (zone[face[0]] || zone[face[1]] || zone[face[2]]))
            near.push_back(f);
    }
    dropCutOffPatches(faces, zone, keep, near);
}

namespace {

// The distance from every step-th point to its nearest other point, as a
// tree search for two neighbours finds it (its squared distance summed
// over x, y, z in that order), for the points with no twin. A grid of
// cubes about four spacings wide finds them without building a tree: the
// search widens ring by ring until no point beyond can be nearer, with
// half a cube to spare. Returns false, finding nothing, where the points
// are not all finite and moderate: the tree serves those.
bool nearestByGrid(const std::vector<CGVertex>& used, std::size_t step, std::vector<double>& distances)
{
    constexpr double kLimit = 1e150;
    double low[3] = {used[0].x, used[0].y, used[0].z};
    double high[3] = {low[0], low[1], low[2]};
    for (const CGVertex& p : used) {
        const double at[3] = {p.x, p.y, p.z};
        for (int axis = 0; axis < 3; ++axis) {
            if (!(std::fabs(at[axis]) <= kLimit))
                return false;
            low[axis] = std::min(low[axis], at[axis]);
            high[axis] = std::max(high[axis], at[axis]);
        }
    }
    const double extent = std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});
    if (!(extent > 0.0))
        return false;
    const double n = static_cast<double>(used.size());
    const double across = std::max(1.0, std::min(std::floor(std::sqrt(n) / 4.0), std::floor(std::cbrt(4.0 * n))));
    const double side = extent / across;
    // a subnormal extent can divide down to zero: no grid to speak of
    if (!std::isnormal(side))
        return false;
    std::size_t cells[3];
    for (int axis = 0; axis < 3; ++axis)
        cells[axis] = static_cast<std::size_t>((high[axis] - low[axis]) / side) + 1;
    const auto cellOf = [&](double v, int axis) {
        return std::min(cells[axis] - 1, static_cast<std::size_t>((v - low[axis]) / side));
    };
    const auto placeOf = [&](const CGVertex& p) {
        return (cellOf(p.z, 2) * cells[1] + cellOf(p.y, 1)) * cells[0] + cellOf(p.x, 0);
    };
    std::vector<std::uint32_t> start(cells[0] * cells[1] * cells[2] + 1, 0);
    for (const CGVertex& p : used)
        ++start[placeOf(p) + 1];
    for (std::size_t c = 0; c + 1 < start.size(); ++c)
        start[c + 1] += start[c];
    // A cloud with a point far out crowds the rest into a few cubes, where
    // each search would scan thousands: the tree serves those.
    constexpr std::uint32_t kCrowded = 256;
    for (std::size_t c = 0; c + 1 < start.size(); ++c) {
        if (start[c + 1] - start[c] > kCrowded)
            return false;
    }
    std::vector<std::uint32_t> members(used.size());
    {
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (std::uint32_t i = 0; i < used.size(); ++i)
            members[next[placeOf(used[i])]++] = i;
    }
    const std::size_t widest = std::max({cells[0], cells[1], cells[2]});
    for (std::size_t i = 0; i < used.size(); i += step) {
        const CGVertex& q = used[i];
        const std::size_t home[3] = {cellOf(q.x, 0), cellOf(q.y, 1), cellOf(q.z, 2)};
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t ring = 0; ring <= widest; ++ring) {
            std::size_t from[3];
            std::size_t to[3];
            for (int axis = 0; axis < 3; ++axis) {
                from[axis] = home[axis] >= ring ? home[axis] - ring : 0;
                to[axis] = std::min(cells[axis] - 1, home[axis] + ring);
            }
            for (std::size_t z = from[2]; z <= to[2]; ++z) {
                for (std::size_t y = from[1]; y <= to[1]; ++y) {
                    const bool inside =
                        z + ring != home[2] && z != home[2] + ring && y + ring != home[1] && y != home[1] + ring;
                    for (std::size_t x = from[0]; x <= to[0]; ++x) {
                        // Only the ring's own cells: those within were seen.
                        if (inside && x + ring != home[0] && x != home[0] + ring)
                            continue;
                        const std::size_t c = (z * cells[1] + y) * cells[0] + x;
                        for (std::uint32_t k = start[c]; k < start[c + 1]; ++k) {
                            const std::uint32_t j = members[k];
                            if (j == i)
                                continue;
                            const CGVertex& p = used[j];
                            const double dx = q.x - p.x;
                            const double dy = q.y - p.y;
                            const double dz = q.z - p.z;
                            double squared = dx * dx;
                            squared += dy * dy;
                            squared += dz * dz;
                            best = std::min(best, squared);
                        }
                    }
                }
            }
            const double reach = (static_cast<double>(ring) - 0.5) * side;
            if (ring > 0 && best <= reach * reach)
                break;
        }
        if (best > 0.0 && best < std::numeric_limits<double>::infinity())
            distances.push_back(std::sqrt(best));
    }
    return true;
}

}  // namespace

std::size_t spacingStep(std::size_t count)
{
    return std::max<std::size_t>(1, (count + kSpacingPoints - 1) / kSpacingPoints);
}

double pointSpacing(const std::vector<CGVertex>& positions)
{
    const std::size_t thin = spacingStep(positions.size());
    if (thin == 1)
        return spacingOfSample(positions, 1);
    std::vector<CGVertex> some;
    for (std::size_t i = 0; i < positions.size(); i += thin)
        some.push_back(positions[i]);
    return spacingOfSample(some, thin);
}

double spacingOfSample(const std::vector<CGVertex>& used, std::size_t thin)
{
    if (used.size() < 2)
        return 0.0;
    // A large tile's spacing comes from every step-th point: on a surface
    // that spreads them sqrt(step) times as far apart.
    const double spread = std::sqrt(static_cast<double>(thin));
    const std::size_t step = std::max<std::size_t>(1, used.size() / kSpacingSamples);
    std::vector<double> distances;
    if (!nearestByGrid(used, step, distances)) {
        const Cloud cloud{&used};
        Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
        tree.buildIndex();
        for (std::size_t i = 0; i < used.size(); i += step) {
            const CGVertex& p = used[i];
            const double query[3] = {p.x, p.y, p.z};
            std::uint32_t found[2];
            double squared[2];
            const std::size_t n = tree.knnSearch(query, 2, found, squared);
            // The point itself comes first, unless a twin sits on it.
            if (n == 2 && squared[1] > 0.0)
                distances.push_back(std::sqrt(squared[1]));
        }
    }
    if (distances.empty())
        return 0.0;
    const auto middle = distances.begin() + static_cast<std::ptrdiff_t>(distances.size() / 2);
    std::nth_element(distances.begin(), middle, distances.end());
    return *middle / spread;
}

TileFaces triangulateTile(const TileCut& cut, unsigned tile, PointSet& points, const TileWidths& widths, bool useKd,
                          Progress* progress, unsigned threads, const WholeCloud* cloud)
{
    std::vector<bool> deep(points.ids.size());
    std::vector<bool> zone(points.ids.size());
    std::vector<bool> inner(points.ids.size());
    for (std::size_t i = 0; i < deep.size(); ++i) {
        const CGVertex& p = points.positions[i];
        const bool own = cut.tileOf(p) == tile;
        const double wall = own ? cut.wallDistance(tile, p) : 0.0;
        deep[i] = own && wall >= widths.trim;
        zone[i] = own && wall < widths.zone;
        inner[i] = own && wall >= widths.zone;
    }
    // In place order, as the single front has them: the engine lays its
    // records out in space itself. A front over a piece of surface with an
    // open rim leaves more holes than one over the closed whole, so they
    // are mended, but only beyond the zone along the walls: the seams see
    // the same faces there as without.
    const Faces faces =
        triangulateLent(points.positions, points.normals, useKd, progress, inner, threads, cloud == nullptr);
    // One walk over the faces, in order: those with every corner deep are
    // kept, those with a corner in the zone are noted for the seams, and
    // the sides between zone points of the rest, which the trim took away,
    // are noted as cut: only such a side can be one the seams start from.
    TileFaces kept;
    kept.faces.reserve(faces.size());
    std::vector<bool> keep(faces.size());
    std::vector<std::uint32_t> near;      // kept faces with a corner in the zone, ascending
    std::vector<std::size_t> nearPlaces;  // their places in kept.faces
    std::unordered_set<std::uint64_t> trimmed;
    const auto noteTrimmed = [&](const Face& face) {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = face[k];
            const std::uint32_t b = face[(k + 1) % 3];
            if (zone[a] && zone[b])
                trimmed.insert(sideKey(a, b));
        }
    };
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        if (!(deep[face[0]] && deep[face[1]] && deep[face[2]])) {
            noteTrimmed(face);
            continue;
        }
        keep[f] = true;
        if (zone[face[0]] || zone[face[1]] || zone[face[2]]) {
            near.push_back(f);
            nearPlaces.push_back(kept.faces.size());
        }
        kept.faces.push_back({points.ids[face[0]], points.ids[face[1]], points.ids[face[2]]});
    }
    // Only near faces can be cut off; those that are leave the kept list,
    // which keeps its order, and their sides are trimmed too.
    dropCutOffPatches(faces, zone, keep, near);
    bool dropped = false;
    std::size_t write = 0;
    std::size_t read = 0;
    for (std::size_t i = 0; i < near.size(); ++i) {
        if (keep[near[i]])
            continue;
        noteTrimmed(faces[near[i]]);
        const std::size_t place = nearPlaces[i];
        if (!dropped)
            write = read = place;
        dropped = true;
        for (; read < place; ++read)
            kept.faces[write++] = kept.faces[read];
        read = place + 1;
    }
    if (dropped) {
        for (; read < kept.faces.size(); ++read)
            kept.faces[write++] = kept.faces[read];
        kept.faces.resize(write);
    }

    // The seams see the points near the walls and every kept face that
    // touches them: those faces' other points too, so the sides they leave
    // open are known for what they are.
    std::vector<bool> seen = zone;
    SeamPart& seam = kept.seam;
    for (const std::uint32_t f : near) {
        if (!keep[f])
            continue;
        const Face& face = faces[f];
        seam.given.push_back({points.ids[face[0]], points.ids[face[1]], points.ids[face[2]]});
        seen[face[0]] = seen[face[1]] = seen[face[2]] = true;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = face[k];
            const std::uint32_t b = face[(k + 1) % 3];
            if (zone[a] && zone[b] && trimmed.count(sideKey(a, b)) != 0)
                seam.cut.push_back({points.ids[a], points.ids[b]});
        }
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (seen[i] && cloud != nullptr) {
            const std::uint32_t id = points.ids[i];
            seam.points.add(id, cloud->positions[id], cloud->normals[id]);
            seam.known.push_back(zone[i]);
        } else if (seen[i]) {
            seam.points.add(points.ids[i], points.positions[i], points.normals[i]);
            seam.known.push_back(zone[i]);
        }
    }
    return kept;
}

SeamFaces closeSeams(const TileCut& cut, const std::vector<SeamPart>& parts, bool useKd, unsigned threads)
{
    // Every point belongs to one tile, so the parts' points never repeat;
    // each part's are ascending already, so merging the runs sorts them.
    std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>>> where;
    std::vector<std::size_t> runs = {0};
    for (std::uint32_t part = 0; part < parts.size(); ++part) {
        for (std::uint32_t i = 0; i < parts[part].points.ids.size(); ++i)
            where.push_back({parts[part].points.ids[i], {part, i}});
        runs.push_back(where.size());
    }
    for (std::size_t width = 1; width + 1 < runs.size(); width *= 2) {
        for (std::size_t first = 0; first + width + 1 < runs.size(); first += 2 * width) {
            const std::size_t last = std::min(first + 2 * width, runs.size() - 1);
            std::inplace_merge(where.begin() + static_cast<std::ptrdiff_t>(runs[first]),
                               where.begin() + static_cast<std::ptrdiff_t>(runs[first + width]),
                               where.begin() + static_cast<std::ptrdiff_t>(runs[last]));
        }
    }
    PointSet points;
    std::vector<bool> known;
    for (const auto& [id, at] : where) {
        const SeamPart& part = parts[at.first];
        points.add(id, part.points.positions[at.second], part.points.normals[at.second]);
        known.push_back(part.known[at.second]);
    }
    Faces given;
    Sides push;
    for (const SeamPart& part : parts) {
        for (const Face& face : part.given)
            given.push_back(
                {localPlace(points.ids, face[0]), localPlace(points.ids, face[1]), localPlace(points.ids, face[2])});
        for (const Side& side : part.cut)
            push.push_back({localPlace(points.ids, side[0]), localPlace(points.ids, side[1])});
    }
    const Faces grown = growFrom(points.positions, points.normals, given, push, useKd, known, threads);
    SeamFaces seams;
    seams.faces.reserve(grown.size());
    seams.tiles.reserve(grown.size());
    for (const Face& face : grown) {
        if (!known[face[0]] || !known[face[1]] || !known[face[2]])
            continue;
        const CGVertex middle =
            centroid(points.positions[face[0]], points.positions[face[1]], points.positions[face[2]]);
        seams.tiles.push_back(cut.tileOf(middle));
        seams.faces.push_back({points.ids[face[0]], points.ids[face[1]], points.ids[face[2]]});
    }
    return seams;
}

namespace {

// Appends the seam faces in the cell of tile, in the seams' order.
void appendSeamFaces(Faces& all, const SeamFaces& seams, unsigned tile)
{
    for (std::size_t i = 0; i < seams.faces.size(); ++i) {
        if (seams.tiles[i] == tile)
            all.push_back(seams.faces[i]);
    }
}

}  // namespace

Faces joinTiles(const std::vector<TileFaces>& kept, const SeamFaces& seams)
{
    std::size_t total = seams.faces.size();
    for (const TileFaces& tile : kept)
        total += tile.faces.size();
    Faces all;
    all.reserve(total);
    for (unsigned tile = 0; tile < kept.size(); ++tile) {
        all.insert(all.end(), kept[tile].faces.begin(), kept[tile].faces.end());
        appendSeamFaces(all, seams, tile);
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
    // Memory running out in a tile reaches the caller, as on one thread;
    // the other threads stop taking tiles.
    std::mutex failing;
    std::exception_ptr failed;
    const auto take = [&]() {
        try {
            for (unsigned i = next++; i < count; i = next++)
                func(i);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failing);
            if (!failed)
                failed = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (unsigned t = 1; t < threads; ++t) {
        try {
            workers.emplace_back(take);
        } catch (const std::system_error&) {
            break;  // the threads there are take every tile between them
        }
    }
    take();
    for (std::thread& worker : workers)
        worker.join();
    if (failed)
        std::rethrow_exception(failed);
}

Faces reconstructTiled(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, unsigned tiles,
                       unsigned threads, bool useKd, Progress* progress)
{
    threads = std::max(1u, threads);
    if (tiles <= 1)
        return triangulatePoints(positions, normals, useKd, threads);
    // Two triangles a point, as the single front counts; the bands add a
    // little more.
    if (progress != nullptr)
        progress->begin(Progress::Stage::Triangulating, 2 * std::uint64_t{positions.size()});
    const auto stopped = [progress]() { return progress != nullptr && progress->stopped(); };
    const TileCut cut(positions, tiles);
    // Every point's tile, on every thread: nothing else can start before
    // this is known. Each thread counts its own run's points; a small
    // cloud is not worth a thread.
    constexpr std::size_t kRunPoints = std::size_t{1} << 16;
    const auto runs =
        static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(1, positions.size() / kRunPoints)));
    std::vector<unsigned> owner(positions.size());
    std::vector<std::vector<std::size_t>> counted(runs, std::vector<std::size_t>(tiles));
    forEachTile(runs, threads, [&](unsigned run) {
        const std::size_t from = positions.size() * run / runs;
        const std::size_t to = positions.size() * (run + 1) / runs;
        std::vector<std::size_t>& mine = counted[run];
        for (std::size_t i = from; i < to; ++i) {
            owner[i] = cut.tileOf(positions[i]);
            ++mine[owner[i]];
        }
    });
    std::vector<std::size_t> owned(tiles);
    for (const std::vector<std::size_t>& mine : counted) {
        for (unsigned tile = 0; tile < tiles; ++tile)
            owned[tile] += mine[tile];
    }
    std::vector<TileWidths> widths(tiles);
    std::vector<TileFaces> kept(tiles);
    // The threads no tile runs on are shared out to build the tiles' trees.
    const unsigned treeThreads = threads / std::min(threads, tiles);
    forEachTile(tiles, threads, [&](unsigned tile) {
        if (stopped())
            return;
        // Each tile gathers its own points on its own thread: copied before
        // the tiles start, they would hold up both. Its spacing needs only
        // a sample of its own points.
        const std::size_t step = spacingStep(owned[tile]);
        std::vector<CGVertex> sample;
        sample.reserve(owned[tile] / step + 1);
        for (std::size_t i = 0, mine = 0; i < positions.size(); ++i) {
            if (owner[i] == tile && mine++ % step == 0)
                sample.push_back(positions[i]);
        }
        widths[tile] = widthsFor(spacingOfSample(sample, step));
        std::vector<CGVertex>().swap(sample);
        // The places first, then the points at their exact count.
        PointSet points;
        points.ids.reserve(owned[tile] + owned[tile] / 8);
        for (std::size_t i = 0; i < positions.size(); ++i) {
            if (owner[i] == tile || cut.distanceTo(tile, positions[i]) < widths[tile].band)
                points.ids.push_back(static_cast<std::uint32_t>(i));
        }
        points.positions.reserve(points.ids.size());
        points.normals.reserve(points.ids.size());
        for (const std::uint32_t id : points.ids) {
            points.positions.push_back(positions[id]);
            points.normals.push_back(normals[id]);
        }
        // Each engine counts on its own; its triangles are added to the
        // whole run's count, a locked add every two hundredth of the tile,
        // in the share its own points have of its points, so that the
        // bands' triangles do not count twice.
        Progress local;
        std::uint64_t told = 0;
        if (progress != nullptr) {
            local.stopWhen(progress->stopFlag());
            local.listen([&]() {
                if (local.stage() != Progress::Stage::Triangulating)
                    return;
                const std::uint64_t share = local.done() * owned[tile] / points.ids.size();
                if (share > told) {
                    progress->share(share - told);
                    told = share;
                }
            });
        }
        const WholeCloud cloud{positions, normals};
        kept[tile] = triangulateTile(cut, tile, points, widths[tile], useKd, progress != nullptr ? &local : nullptr,
                                     treeThreads, &cloud);
    });
    if (stopped())
        return {};
    std::vector<SeamPart> parts(tiles);
    for (unsigned tile = 0; tile < tiles; ++tile)
        parts[tile] = std::move(kept[tile].seam);
    // The first tile's faces lead the output whatever the seams make, so
    // they are copied while the seams close, on a thread of their own
    // where there is one; the rest follow as joinTiles lays them.
    SeamFaces seams;
    Faces all;
    forEachTile(2, threads, [&](unsigned job) {
        if (job == 0) {
            seams = closeSeams(cut, parts, useKd, std::max(1u, threads - 1));
            return;
        }
        // Each seam point has about two faces; room for three spares a copy.
        std::size_t room = 0;
        for (unsigned tile = 0; tile < tiles; ++tile)
            room += kept[tile].faces.size() + 3 * parts[tile].points.ids.size();
        all.reserve(room);
        all.insert(all.end(), kept[0].faces.begin(), kept[0].faces.end());
        Faces().swap(kept[0].faces);
    });
    appendSeamFaces(all, seams, 0);
    for (unsigned tile = 1; tile < tiles; ++tile) {
        all.insert(all.end(), kept[tile].faces.begin(), kept[tile].faces.end());
        Faces().swap(kept[tile].faces);
        appendSeamFaces(all, seams, tile);
    }
    return all;
}
