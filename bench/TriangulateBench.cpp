// A whole KD run, as the program's own timer measures it: tree build and
// triangulation, on a generated torus.

#include "mesh/Reconstruct.h"

#include "SampleShapes.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace {

void BM_TriangulateTorus(benchmark::State& state)
{
    std::vector<SamplePoint> points = torusSample(static_cast<std::size_t>(state.range(0)), 25.0, 10.0);
    shuffleSample(points);
    std::size_t triangles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto r = std::make_unique<Reconstruct>();
        for (const SamplePoint& p : points)
            r->addNode(CGVertex{p.x, p.y, p.z}, CGVector{p.nx, p.ny, p.nz});
        state.ResumeTiming();
        r->triangulate(true);
        triangles = r->triangles.size();
        state.PauseTiming();
        r.reset();
        state.ResumeTiming();
    }
    state.counters["points"] = static_cast<double>(points.size());
    state.counters["triangles"] = static_cast<double>(triangles);
}
BENCHMARK(BM_TriangulateTorus)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
