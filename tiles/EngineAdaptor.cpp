#include "tiles/EngineAdaptor.h"

#include "geometry/Progress.h"
#include "mesh/Reconstruct.h"
#include "records/Edge.h"
#include "search/CandidateIndex.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace {

// The driver's inner loop, as a whole run has it, over what is on front.
// A side whose third corner would be a point not usable is left open:
// that point may have faces the engine does not see.
void advanceFront(Reconstruct& engine, CandidateIndex& index, const std::vector<bool>& usable)
{
    while (Edge* e = engine.popFront()) {
        if (e->triangleCount == 2)
            continue;
        ReconNode* closing = nullptr;
        ReconNode* apex = engine.findApex(e, closing);
        if (apex == nullptr)
            continue;
        const Vector direction = Reconstruct::outwardDirection(e->from->position, e->to->position, apex);
        ReconNode* c = closing;
        if (c == nullptr && !samePosition(e->from->position, e->to->position))
            c = index.findCandidate(*e, direction);
        if (c != nullptr && (usable.empty() || usable[c->index]))
            engine.addTriangle(e->from, e->to, c);
    }
}

// The faces made from place first on, without copying the points as the
// engine's whole surface would.
Faces facesFrom(const Reconstruct& engine, std::size_t first)
{
    Faces faces;
    faces.reserve(engine.triangles.size() - first);
    for (std::size_t i = first; i < engine.triangles.size(); ++i) {
        const Triangle& t = engine.triangles[i];
        faces.push_back({t.source[0], t.source[1], t.source[2]});
    }
    return faces;
}

std::uint64_t sideKey(std::uint32_t a, std::uint32_t b)
{
    return std::uint64_t{std::min(a, b)} << 32 | std::max(a, b);
}

// Shrinks the holes the front left among mendable points: open sides go
// back on the front, in place order, and are advanced as the driver
// advances them, but a face is laid only where it follows the hole's rim
// and is wound as its neighbours are: its third corner is a common
// neighbour that closes it through existing sides, or the candidate the
// search picks when that shares an open side with an end of the side; it
// runs against the face on each of its open sides, as a consistently
// wound surface has it; and every corner is mendable. So a hole only
// shrinks (each face closes two open sides or three and opens at most
// one), no point gets a side off the rim, and no new side is wound
// inconsistently.
class HoleMender {
public:
    HoleMender(Reconstruct& engine, CandidateIndex& search, const std::vector<bool>& mendable)
        : engine_(engine), search_(search), mendable_(mendable)
    {
        // A face laid here has mendable corners only, so only the open
        // sides between mendable points, and the faces on them, matter.
        // A node without an open side is skipped by its count: reading
        // its edges would touch every one of its neighbours.
        std::vector<bool> rim(engine.nodes.size());
        for (const ReconNode* node : engine.nodes) {
            if (node->openEdgeCount == 0 || !mendable[node->index])
                continue;
            for (const Edge* edge : node->edges) {
                if (edge->triangleCount == 1 && mendable[edge->to->index]) {
                    rim[node->index] = true;
                    if (node->index < edge->to->index)
                        firstSides_.push_back(sideKey(node->index, edge->to->index));
                }
            }
        }
        std::sort(firstSides_.begin(), firstSides_.end());
        runs_.reserve(firstSides_.size());
        for (const std::uint64_t side : firstSides_)
            runs_.emplace(side, false);
        for (const Triangle& t : engine.triangles) {
            if (static_cast<int>(rim[t.source[0]]) + rim[t.source[1]] + rim[t.source[2]] < 2)
                continue;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t u = t.source[k];
                const std::uint32_t v = t.source[(k + 1) % 3];
                const auto at = runs_.find(sideKey(u, v));
                if (at != runs_.end())
                    at->second = u < v;
            }
        }
    }

    // One round over the open sides between mendable points with an end
    // among points (places, ascending; the first round takes every one).
    // Returns the corners of the faces it laid, ascending: only sides there
    // can take a face in the next round that could not in this one.
    std::vector<std::uint32_t> round(const std::vector<std::uint32_t>& points)
    {
        std::vector<std::uint64_t> sides;
        if (points.empty()) {
            sides.swap(firstSides_);
        } else {
            for (std::uint32_t place : points) {
                const ReconNode* node = engine_.nodes[place];
                if (!mendable_[node->index])
                    continue;
                for (const Edge* edge : node->edges)
                    if (edge->triangleCount == 1 && mendable_[edge->to->index])
                        sides.push_back(sideKey(node->index, edge->to->index));
            }
            std::sort(sides.begin(), sides.end());
            sides.erase(std::unique(sides.begin(), sides.end()), sides.end());
        }
        // One way round is enough: both give the same apex and candidate.
        // The stack hands them out first to last.
        engine_.front.clear();
        for (auto side = sides.rbegin(); side != sides.rend(); ++side) {
            ReconNode* low = engine_.nodes[static_cast<std::uint32_t>(*side >> 32)];
            ReconNode* high = engine_.nodes[static_cast<std::uint32_t>(*side)];
            engine_.front.push_back(findEdge(low, high));
        }
        std::vector<std::uint32_t> laid;
        while (Edge* e = engine_.popFront()) {
            if (ReconNode* c = thirdCorner(e)) {
                engine_.addTriangle(e->from, e->to, c);
                note(e->from, e->to, c);
                laid.insert(laid.end(), {e->from->index, e->to->index, c->index});
            }
        }
        std::sort(laid.begin(), laid.end());
        laid.erase(std::unique(laid.begin(), laid.end()), laid.end());
        return laid;
    }

private:
    // The corner that closes a face on e by the rules above, or null.
    ReconNode* thirdCorner(const Edge* e)
    {
        if (e->triangleCount == 2 || !mendable_[e->from->index] || !mendable_[e->to->index])
            return nullptr;
        ReconNode* closing = nullptr;
        ReconNode* apex = engine_.findApex(e, closing);
        if (apex == nullptr)
            return nullptr;
        if (closing == nullptr && !samePosition(e->from->position, e->to->position)) {
            const Vector direction = Reconstruct::outwardDirection(e->from->position, e->to->position, apex);
            if (!anyRimPointLayable(e, direction))
                return nullptr;
            ReconNode* c = search_.findCandidate(*e, direction);
            if (c != nullptr) {
                const Edge* ca = findEdge(c, e->from);
                const Edge* cb = findEdge(c, e->to);
                if ((ca != nullptr && ca->triangleCount == 1) || (cb != nullptr && cb->triangleCount == 1))
                    closing = c;
            }
        }
        if (closing == nullptr || !mendable_[closing->index] || !woundAsNeighbours(e->from, e->to, closing))
            return nullptr;
        return closing;
    }

    // Whether a point across an open side from either end of e could be
    // laid on it: it passes the tests the candidate search puts every
    // point it takes to (ahead of e along n, joinable to both ends), and
    // the face would be mendable and wound as its neighbours are. Where
    // none could, the search's pick cannot be laid, and the search is
    // spared: one that finds nothing near a hole reads much of the cloud
    // before it gives up. (A looser test than the search's only costs a
    // search.)
    bool anyRimPointLayable(const Edge* e, const Vector& n) const
    {
        const ReconNode* a = e->from;
        const ReconNode* b = e->to;
        for (const ReconNode* end : {a, b}) {
            for (const Edge* side : end->edges) {
                const ReconNode* c = side->to;
                if (side->triangleCount != 1 || c == a || c == b || !mendable_[c->index])
                    continue;
                const CGVector toA = c->position - a->position;
                const CGVector toB = c->position - b->position;
                const CGVector m = {(toA.x + toB.x) * 0.5, (toA.y + toB.y) * 0.5, (toA.z + toB.z) * 0.5};
                const double ahead = dot(n, m);
                if (ahead < 0.0 || std::isnan(ahead) || !canConnect(a, c) || !canConnect(b, c))
                    continue;
                if (woundAsNeighbours(a, b, c))
                    return true;
            }
        }
        return false;
    }

    // Whether the face a, b, c runs against the face on each of its sides
    // that is open.
    bool woundAsNeighbours(const ReconNode* a, const ReconNode* b, const ReconNode* c) const
    {
        std::uint32_t corners[3];
        wound(a, b, c, corners);
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t u = corners[k];
            const std::uint32_t v = corners[(k + 1) % 3];
            const auto at = runs_.find(sideKey(u, v));
            if (at != runs_.end() && at->second == (u < v))
                return false;
        }
        return true;
    }

    // The corners in the order the engine records them.
    static void wound(const ReconNode* a, const ReconNode* b, const ReconNode* c, std::uint32_t corners[3])
    {
        const bool back = Reconstruct::windsBackwards(a, b, c);
        corners[0] = a->index;
        corners[1] = back ? c->index : b->index;
        corners[2] = back ? b->index : c->index;
    }

    // A side the face laid on a, b, c was open on is full now; its others
    // are open, run as the face runs them.
    void note(const ReconNode* a, const ReconNode* b, const ReconNode* c)
    {
        std::uint32_t corners[3];
        wound(a, b, c, corners);
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t u = corners[k];
            const std::uint32_t v = corners[(k + 1) % 3];
            const auto [at, fresh] = runs_.emplace(sideKey(u, v), u < v);
            if (!fresh)
                runs_.erase(at);
        }
    }

    Reconstruct& engine_;
    CandidateIndex& search_;
    const std::vector<bool>& mendable_;
    // The open sides, each with the way its face runs along it: true when
    // from the lower place to the higher.
    std::unordered_map<std::uint64_t, bool> runs_;
    // The open sides between mendable points before any round, ascending.
    std::vector<std::uint64_t> firstSides_;
};

}  // namespace

Faces triangulatePoints(std::vector<CGVertex> positions, std::vector<CGVector> normals, bool useKd, unsigned threads)
{
    Reconstruct engine;
    engine.treeThreads = threads;
    engine.setPoints(positions, normals);
    std::vector<CGVertex>().swap(positions);
    std::vector<CGVector>().swap(normals);
    engine.triangulate(useKd);
    engine.releaseIndex();
    return facesFrom(engine, 0);
}

Faces triangulateLent(std::vector<CGVertex>& positions, std::vector<CGVector>& normals, bool useKd, Progress* progress,
                      const std::vector<bool>& mendable, unsigned threads, bool handBack)
{
    Reconstruct engine;
    engine.treeThreads = threads;
    engine.progress = progress;
    engine.setPoints(positions, normals);
    std::vector<CGVertex>().swap(positions);
    std::vector<CGVector>().swap(normals);
    engine.triangulate(useKd);
    const bool stopped = progress != nullptr && progress->stopped();
    if (!mendable.empty() && !stopped) {
        HoleMender mender(engine, *engine.index(), mendable);
        // Each face closes more open sides than it opens, so the rounds end.
        for (std::vector<std::uint32_t> touched = mender.round({}); !touched.empty();)
            touched = mender.round(touched);
    }
    engine.releaseIndex();
    Faces faces = facesFrom(engine, 0);
    Triangles().swap(engine.triangles);
    if (!handBack)
        return faces;
    positions.reserve(engine.nodes.size());
    normals.reserve(engine.nodes.size());
    for (const ReconNode* node : engine.nodes) {
        positions.push_back(node->position);
        normals.push_back(node->normal);
    }
    return faces;
}

Faces growFrom(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, const Faces& given,
               const Sides& push, bool useKd, const std::vector<bool>& usable, unsigned threads)
{
    Reconstruct engine;
    engine.setPoints(positions, normals);
    CandidateIndex index(engine.nodes, useKd ? CandidateIndex::Kind::kdTree : CandidateIndex::Kind::linear, nullptr,
                         true, threads);
    for (const Face& face : given)
        engine.addTriangle(engine.nodes[face[0]], engine.nodes[face[1]], engine.nodes[face[2]]);
    const std::size_t made = engine.triangles.size();
    engine.front.clear();
    for (const Side& side : push) {
        Edge* e = findEdge(engine.nodes[side[0]], engine.nodes[side[1]]);
        if (e != nullptr && e->triangleCount == 1)
            engine.front.push_back(e);
    }
    advanceFront(engine, index, usable);
    while (engine.findSeed())
        advanceFront(engine, index, usable);
    return facesFrom(engine, made);
}
