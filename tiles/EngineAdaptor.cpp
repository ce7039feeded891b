#include "tiles/EngineAdaptor.h"

#include "mesh/Reconstruct.h"
#include "records/Edge.h"
#include "search/CandidateIndex.h"

#include <cstddef>

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

Faces triangulateLent(std::vector<CGVertex>& positions, std::vector<CGVector>& normals, bool useKd, Progress* progress)
{
    Reconstruct engine;
    engine.progress = progress;
    engine.setPoints(positions, normals);
    std::vector<CGVertex>().swap(positions);
    std::vector<CGVector>().swap(normals);
    engine.triangulate(useKd);
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
