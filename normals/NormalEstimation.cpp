#include "normals/NormalEstimation.h"

#include "geometry/Pieces.h"

#include <Eigen/Eigenvalues>
#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

namespace {

// The positions as nanoflann reads them.
struct Cloud {
    const CGVertex* points;
    std::size_t count;

    std::size_t kdtree_get_point_count() const { return count; }

    double kdtree_get_pt(std::size_t i, std::size_t axis) const
    {
        const CGVertex& p = points[i];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    }

    template <class Box>
    bool kdtree_get_bbox(Box&) const
    {
        return false;
    }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>, Cloud, 3, std::uint32_t>;

bool finite(const CGVector& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The direction of least spread of the given points, measured from the
// first of them so that large coordinates lose no digits; zero when the
// spread cannot be measured (it overflows).
CGVector leastSpread(const CGVertex* positions, const std::uint32_t* around, std::size_t k)
{
    const CGVertex& origin = positions[around[0]];
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (std::size_t j = 0; j < k; ++j) {
        const CGVector d = positions[around[j]] - origin;
        mean += Eigen::Vector3d(d.x, d.y, d.z);
    }
    mean /= static_cast<double>(k);
    Eigen::Matrix3d spread = Eigen::Matrix3d::Zero();
    for (std::size_t j = 0; j < k; ++j) {
        const CGVector d = positions[around[j]] - origin;
        const Eigen::Vector3d e = Eigen::Vector3d(d.x, d.y, d.z) - mean;
        spread += e * e.transpose();
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
    // The closed form is several times quicker than the iterative solver;
    // where it cannot give a finite answer the iterative one gets a try.
    solver.computeDirect(spread);
    Eigen::Vector3d least = solver.eigenvectors().col(0);
    if (!least.allFinite()) {
        solver.compute(spread);
        least = solver.eigenvectors().col(0);
    }
    const CGVector normal = {least.x(), least.y(), least.z()};
    return finite(normal) ? normal : CGVector{};
}

// Runs work(part, first, last) over [0, count) in as many contiguous parts
// as there are threads, numbered from 0 in order. Each part writes only its own entries, so the result
// does not depend on how the range is cut.
template <class Work>
void inParallel(std::size_t count, unsigned threads, const Work& work)
{
    const std::size_t parts = std::max<std::size_t>(1, std::min<std::size_t>(threads, count / 1024 + 1));
    std::vector<std::thread> helpers;
    helpers.reserve(parts);
    for (std::size_t t = 1; t < parts; ++t) {
        try {
            helpers.emplace_back(work, t, count * t / parts, count * (t + 1) / parts);
        } catch (const std::system_error&) {
            work(t, count * t / parts, count * (t + 1) / parts);  // no thread to spare: the part runs here
        }
    }
    work(std::size_t{0}, std::size_t{0}, count / parts);
    for (std::thread& helper : helpers)
        helper.join();
}

// An edge of the neighbour graph, a -> b, with its weight's bits as the
// sort key: non-negative floats order like their bits.
struct WeightedEdge {
    std::uint32_t key;
    std::uint32_t a;
    std::uint32_t b;
};

using EdgeList = std::vector<WeightedEdge>;

// All edges of the parts, in order, sorted by key; equal keys keep their
// order. Stable passes of eleven bits each over the key's top 22 bits: a
// weight to about five significant digits, nearer weights tie. The first
// pass reads the parts where they lie and frees each once read.
EdgeList sortByWeight(std::vector<EdgeList>& parts)
{
    std::size_t total = 0;
    for (const EdgeList& part : parts)
        total += part.size();
    EdgeList sorted(total);
    EdgeList other(total);
    auto digit = [](const WeightedEdge& e, int shift) { return (e.key >> shift) & 2047u; };
    std::vector<std::size_t> start(2049, 0);
    for (const EdgeList& part : parts)
        for (const WeightedEdge& e : part)
            ++start[digit(e, 10) + 1];
    for (std::size_t b = 1; b < start.size(); ++b)
        start[b] += start[b - 1];
    for (EdgeList& part : parts) {
        for (const WeightedEdge& e : part)
            other[start[digit(e, 10)]++] = e;
        EdgeList().swap(part);
    }
    std::fill(start.begin(), start.end(), 0);
    for (const WeightedEdge& e : other)
        ++start[digit(e, 21) + 1];
    for (std::size_t b = 1; b < start.size(); ++b)
        start[b] += start[b - 1];
    for (const WeightedEdge& e : other)
        sorted[start[digit(e, 21)]++] = e;
    return sorted;
}

void flip(CGVector& n)
{
    n = {-n.x, -n.y, -n.z};
}

}  // namespace

std::vector<CGVector> estimateNormals(const std::vector<CGVertex>& positions, unsigned neighbours, unsigned threads,
                                      Progress* progress)
{
    const std::size_t count = positions.size();
    if (progress != nullptr)
        progress->begin(Progress::Stage::Normals, count);
    std::vector<CGVector> result(count);
    if (count == 0)
        return result;
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    // The neighbour table is indexed by 32 bits.
    const std::size_t most = std::numeric_limits<std::uint32_t>::max() / count;
    const std::size_t k = std::max<std::size_t>(1, std::min<std::size_t>({neighbours, count, most}));

    Cloud cloud{positions.data(), count};
    Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));

    // From here on the points are numbered in the tree's own order, in
    // which each lies near the one before: neighbours, their normals and
    // the pieces' bookkeeping are then close together in memory, where file
    // order would scatter them. The tree is pointed at the renumbered copy;
    // its nodes refer to places in its index list, which now name the
    // same points in the copy.
    const std::vector<std::uint32_t> fileIndex(tree.vAcc.begin(), tree.vAcc.end());
    std::vector<CGVertex> points(count);
    for (std::size_t i = 0; i < count; ++i) {
        points[i] = positions[fileIndex[i]];
        tree.vAcc[i] = static_cast<std::uint32_t>(i);
    }
    cloud.points = points.data();

    std::vector<CGVector> normals(count);
    std::vector<std::uint32_t> near(count * k);
    inParallel(count, threads, [&](std::size_t, std::size_t first, std::size_t last) {
        std::vector<double> distances(k);
        for (std::size_t i = first; i < last; ++i) {
            if ((i - first) % 4096 == 0 && progress != nullptr && progress->stopped())
                return;
            const double query[3] = {points[i].x, points[i].y, points[i].z};
            std::uint32_t* const around = near.data() + i * k;
            const std::size_t found = tree.knnSearch(query, k, around, distances.data());
            // Points at the same place may come before the point itself;
            // the spread is measured from it all the same.
            std::uint32_t* const self = std::find(around, around + found, static_cast<std::uint32_t>(i));
            if (self != around + found)
                std::iter_swap(around, self);
            normals[i] = leastSpread(points.data(), around, found);
            // The searches take most of the time; they are counted in
            // blocks, each thread its own.
            constexpr std::size_t kBlock = 4096;
            if (progress != nullptr && ((i - first) % kBlock == kBlock - 1 || i + 1 == last))
                progress->share((i - first) % kBlock + 1);
        }
    });

    // Asked to stop: what was found so far is of no use to anyone.
    if (progress != nullptr && progress->stopped())
        return result;

    // The neighbour graph's edges, each once, lightest first. Each thread
    // lists the edges of its own points; joined in point order, and sorted
    // stably, equal weights keep that order, so the tree below is one and
    // the same for every thread count.
    std::vector<EdgeList> parts(threads);
    inParallel(count, threads, [&](std::size_t place, std::size_t from, std::size_t to) {
        EdgeList& part = parts[place];
        part.reserve((to - from) * (k - 1) * 2 / 3);
        for (std::size_t i = from; i < to; ++i) {
            for (std::size_t s = 0; s < k; ++s) {
                const std::uint32_t j = near[i * k + s];
                if (j == i)
                    continue;
                // Listed already from j's side.
                if (j < i) {
                    const std::uint32_t* const other = near.data() + std::size_t{j} * k;
                    if (std::find(other, other + k, static_cast<std::uint32_t>(i)) != other + k)
                        continue;
                }
                const double agreement = std::fabs(dot(normals[i], normals[j]));
                const float weight = static_cast<float>(std::max(0.0, 1.0 - agreement));
                std::uint32_t key;
                std::memcpy(&key, &weight, sizeof key);
                part.push_back({key, static_cast<std::uint32_t>(i), j});
            }
        }
    });
    std::vector<std::uint32_t>().swap(near);
    EdgeList edges = sortByWeight(parts);

    // The minimum spanning forest, kept as each point's list of tree
    // neighbours (first and then in a flat list).
    Pieces pieces(count);
    std::vector<std::uint32_t> treeEnds;
    treeEnds.reserve(2 * count);
    for (const WeightedEdge& e : edges) {
        if (pieces.join(e.a, e.b)) {
            treeEnds.push_back(e.a);
            treeEnds.push_back(e.b);
        }
    }
    EdgeList().swap(edges);
    std::vector<std::uint32_t> first(count + 1, 0);
    for (std::uint32_t end : treeEnds)
        ++first[end + 1];
    for (std::size_t i = 1; i <= count; ++i)
        first[i] += first[i - 1];
    std::vector<std::uint32_t> adjacent(treeEnds.size());
    {
        std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
        for (std::size_t e = 0; e < treeEnds.size(); e += 2) {
            adjacent[fill[treeEnds[e]]++] = treeEnds[e + 1];
            adjacent[fill[treeEnds[e + 1]]++] = treeEnds[e];
        }
    }

    // Along the tree from any point outward, a normal that disagrees with
    // its parent's is turned over. Which point starts makes no difference
    // beyond the sign of the whole piece, which is settled below.
    std::vector<bool> reached(count, false);
    std::vector<std::uint32_t> queue;
    queue.reserve(count);
    for (std::size_t root = 0; root < count; ++root) {
        if (reached[root])
            continue;
        reached[root] = true;
        queue.push_back(static_cast<std::uint32_t>(root));
        for (std::size_t q = queue.size() - 1; q < queue.size(); ++q) {
            const std::uint32_t parent = queue[q];
            for (std::uint32_t a = first[parent]; a < first[parent + 1]; ++a) {
                const std::uint32_t child = adjacent[a];
                if (reached[child])
                    continue;
                reached[child] = true;
                if (dot(normals[parent], normals[child]) < 0.0)
                    flip(normals[child]);
                queue.push_back(child);
            }
        }
    }

    // Turning each piece outward: its extreme points along +x, -x, +y, -y,
    // +z, -z, the first in file order on a tie.
    std::vector<std::uint32_t> pieceOf(count);
    std::size_t pieceCount = 0;
    {
        std::vector<std::uint32_t> pieceIndex(count, std::numeric_limits<std::uint32_t>::max());
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t root = pieces.root(static_cast<std::uint32_t>(i));
            if (pieceIndex[root] == std::numeric_limits<std::uint32_t>::max())
                pieceIndex[root] = static_cast<std::uint32_t>(pieceCount++);
            pieceOf[i] = pieceIndex[root];
        }
    }
    auto coordinate = [&points](std::uint32_t i, int axis) {
        const CGVertex& p = points[i];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    };
    std::vector<std::uint32_t> extreme(pieceCount * 6);
    std::vector<bool> seen(pieceCount, false);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t piece = pieceOf[i];
        std::uint32_t* const ends = extreme.data() + std::size_t{piece} * 6;
        if (!seen[piece]) {
            seen[piece] = true;
            std::fill(ends, ends + 6, i);
            continue;
        }
        for (int axis = 0; axis < 3; ++axis) {
            const double c = coordinate(i, axis);
            std::uint32_t& largest = ends[2 * static_cast<std::size_t>(axis)];
            std::uint32_t& smallest = ends[2 * static_cast<std::size_t>(axis) + 1];
            const double high = coordinate(largest, axis);
            const double low = coordinate(smallest, axis);
            if (c > high || (c == high && fileIndex[i] < fileIndex[largest]))
                largest = i;
            if (c < low || (c == low && fileIndex[i] < fileIndex[smallest]))
                smallest = i;
        }
    }
    std::vector<bool> turn(pieceCount, false);
    for (std::size_t piece = 0; piece < pieceCount; ++piece) {
        double best = -1.0;
        for (int end = 0; end < 6; ++end) {
            const CGVector& n = normals[extreme[piece * 6 + end]];
            const double along = end / 2 == 0 ? n.x : end / 2 == 1 ? n.y : n.z;
            if (std::fabs(along) > best) {
                best = std::fabs(along);
                // At a largest coordinate the normal should point up the
                // axis, at a smallest one down it.
                turn[piece] = end % 2 == 0 ? along < 0.0 : along > 0.0;
            }
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (turn[pieceOf[i]])
            flip(normals[i]);
        result[fileIndex[i]] = normals[i];
    }
    return result;
}
