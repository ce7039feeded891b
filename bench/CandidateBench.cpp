// The candidate search on its own: one findCandidate call for an open edge
// of a surface, with the KD-tree and with the linear scan.
//
// A finished torus has no open edges left, so the edges come from its
// triangles: side a-b of triangle a, b, c, searched across towards the far
// side, away from c, as the driver searches across an edge on the front.
// Every node is closed by then, so each candidate is refused at the edge
// test rather than taken; the gathering and scoring that dominate a real
// search are all still done.

#include "mesh/Reconstruct.h"
#include "search/CandidateIndex.h"
#include "search/CandidateSearch.h"

#include "SampleShapes.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

struct OpenSide {
    const Edge* edge;
    CGVector outward;
};

struct Surface {
    std::unique_ptr<Reconstruct> mesh;
    std::vector<OpenSide> sides;
};

// The 100,000-point torus of the triangulation benchmark, triangulated once
// with the KD-tree (which also builds the tree the KD search needs), and
// 1,000 sides spread evenly over its triangles.
const Surface& torusSurface()
{
    static const Surface surface = [] {
        Surface s;
        s.mesh = std::make_unique<Reconstruct>();
        std::vector<SamplePoint> points = torusSample(100000, 25.0, 10.0);
        shuffleSample(points);
        for (const SamplePoint& p : points)
            s.mesh->addNode(CGVertex{p.x, p.y, p.z}, CGVector{p.nx, p.ny, p.nz});
        s.mesh->triangulate(true);

        const Triangles& triangles = s.mesh->triangles;
        constexpr std::size_t kSides = 1000;
        const std::size_t step = triangles.size() / kSides > 0 ? triangles.size() / kSides : 1;
        for (std::size_t t = 0; t < triangles.size() && s.sides.size() < kSides; t += step) {
            const std::uint32_t* corner = triangles[t].source;
            const ReconNode* a = s.mesh->nodes[corner[0]];
            const ReconNode* b = s.mesh->nodes[corner[1]];
            const ReconNode* c = s.mesh->nodes[corner[2]];
            const Edge* e = findEdge(a, b);
            if (e != nullptr)
                s.sides.push_back({e, Reconstruct::outwardDirection(a->position, b->position, c)});
        }
        return s;
    }();
    return surface;
}

// Arg 1: KD-tree candidates; arg 0: every node a candidate.
void BM_FindCandidate(benchmark::State& state)
{
    const Surface& surface = torusSurface();
    const bool useKd = state.range(0) != 0;
    std::size_t next = 0;
    SearchScratch scratch;
    for (auto _ : state) {
        const OpenSide& side = surface.sides[next];
        const Reconstruct& mesh = *surface.mesh;
        benchmark::DoNotOptimize(
            findCandidate(mesh.nodes, mesh.index()->tree(), *side.edge, side.outward, useKd, nullptr, scratch));
        next = next + 1 < surface.sides.size() ? next + 1 : 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["points"] = static_cast<double>(surface.mesh->nodes.size());
}
BENCHMARK(BM_FindCandidate)->ArgName("kd")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
