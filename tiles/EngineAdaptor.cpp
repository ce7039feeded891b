#include "tiles/EngineAdaptor.h"

#include "geometry/Progress.h"
#include "mesh/Reconstruct.h"
#include "records/Edge.h"
#include "search/CandidateIndex.h"

#include <algorithm>
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

// One round over the holes the front left: every side that carries one
// face goes back on the front, in place order, and is advanced as the
// driver advances it, but a face is laid only where it follows the hole's
// rim and is wound as its neighbours are: its third corner is a common
// neighbour that closes it through existing sides, or the candidate the
// search picks when that shares an open side with an end of the side; it
// runs against the face on each of its open sides, as a consistently wound
// surface has it; and every corner is mendable. So a hole only shrinks
// (each face closes two open sides or three and opens at most one), no
// point gets a side off the rim, and no new side is wound inconsistently.
// Returns how many faces it laid.
std::size_t closeHoles(Reconstruct& engine, CandidateIndex& search, const std::vector<bool>& mendable)
{
    std::size_t made = 0;
    // The open sides, each with the way its face runs along it: true when
    // from the lower place to the higher.
    std::unordered_map<std::uint64_t, bool> runs;
    for (const ReconNode* node : engine.nodes) {
        for (Edge* edge : node->edges) {
            if (edge->triangleCount != 1)
                continue;
            engine.front.push_back(edge);
            if (node->index < edge->to->index)
                runs.emplace(sideKey(node->index, edge->to->index), false);
        }
    }
    if (runs.empty())
        return 0;
    for (const Triangle& t : engine.triangles) {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t u = t.source[k];
            const std::uint32_t v = t.source[(k + 1) % 3];
            const auto at = runs.find(sideKey(u, v));
            if (at != runs.end())
                at->second = u < v;
        }
    }
    // The stack hands them out first to last.
    std::reverse(engine.front.begin(), engine.front.end());
    while (Edge* e = engine.popFront()) {
        if (e->triangleCount == 2)
            continue;
        ReconNode* closing = nullptr;
        ReconNode* apex = engine.findApex(e, closing);
        if (apex == nullptr)
            continue;
        if (closing == nullptr && !samePosition(e->from->position, e->to->position)) {
            const Vector direction = Reconstruct::outwardDirection(e->from->position, e->to->position, apex);
            ReconNode* c = search.findCandidate(*e, direction);
            if (c != nullptr) {
                const Edge* ca = findEdge(c, e->from);
                const Edge* cb = findEdge(c, e->to);
                if ((ca != nullptr && ca->triangleCount == 1) || (cb != nullptr && cb->triangleCount == 1))
                    closing = c;
            }
        }
        if (closing == nullptr)
            continue;
        if (!mendable[e->from->index] || !mendable[e->to->index] || !mendable[closing->index])
            continue;
        const bool back = Reconstruct::windsBackwards(e->from, e->to, closing);
        const std::uint32_t corners[3] = {e->from->index, back ? closing->index : e->to->index,
                                          back ? e->to->index : closing->index};
        bool agrees = true;
        for (int k = 0; k < 3 && agrees; ++k) {
            const std::uint32_t u = corners[k];
            const std::uint32_t v = corners[(k + 1) % 3];
            const auto at = runs.find(sideKey(u, v));
            agrees = at == runs.end() || at->second != (u < v);
        }
        if (!agrees)
            continue;
        engine.addTriangle(e->from, e->to, closing);
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t u = corners[k];
            const std::uint32_t v = corners[(k + 1) % 3];
            const auto [at, fresh] = runs.emplace(sideKey(u, v), u < v);
            if (!fresh)
                runs.erase(at);
        }
        ++made;
    }
    return made;
}

}  // namespace

Faces triangulatePoints(std::vector<CGVertex> positions, std::vector<CGVector> normals, bool useKd)
{
    Reconstruct engine;
    engine.setPoints(positions, normals);
    std::vector<CGVertex>().swap(positions);
    std::vector<CGVector>().swap(normals);
    engine.triangulate(useKd);
    engine.releaseIndex();
    return facesFrom(engine, 0);
}

Faces triangulateLent(std::vector<CGVertex>& positions, std::vector<CGVector>& normals, bool useKd, Progress* progress,
                      const std::vector<bool>& mendable)
{
    Reconstruct engine;
    engine.progress = progress;
    engine.setPoints(positions, normals);
    std::vector<CGVertex>().swap(positions);
    std::vector<CGVector>().swap(normals);
    engine.triangulate(useKd);
    const bool stopped = progress != nullptr && progress->stopped();
    if (!mendable.empty() && !stopped) {
        // Each face closes more open sides than it opens, so the rounds end.
        while (closeHoles(engine, *engine.index(), mendable) > 0) {}
    }
    engine.releaseIndex();
    Faces faces = facesFrom(engine, 0);
    Triangles().swap(engine.triangles);
    positions.reserve(engine.nodes.size());
    normals.reserve(engine.nodes.size());
    for (const ReconNode* node : engine.nodes) {
        positions.push_back(node->position);
        normals.push_back(node->normal);
    }
    return faces;
}

Faces growFrom(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, const Faces& given,
               const Sides& push, bool useKd, const std::vector<bool>& usable)
{
    Reconstruct engine;
    engine.setPoints(positions, normals);
    CandidateIndex index(engine.nodes, useKd ? CandidateIndex::Kind::kdTree : CandidateIndex::Kind::linear);
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
