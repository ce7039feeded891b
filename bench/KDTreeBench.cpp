// The spatial index on its own: building it the way a KD run does, and the
// sphere queries the candidate search makes.

#include "kdtree/KDTree.h"
#include "kdtree/ReferenceTree.h"
#include "kdtree/SphereSearch.h"
#include "mesh/Reconstruct.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <random>

namespace {

using Tree = KDTree<double>;

// Uniform points in the unit cube, the same on every run.
std::unique_ptr<Reconstruct> randomCloud(std::size_t count)
{
    auto r = std::make_unique<Reconstruct>();
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    r->nodes.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        r->addNode(CGVertex{unit(random), unit(random), unit(random)}, CGVector{0.0, 0.0, 1.0});
    return r;
}

// The reference build, presorting and splitting three lists; freeing the
// tree is not timed.
void BM_BuildTree(benchmark::State& state)
{
    const auto r = randomCloud(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::unique_ptr<BinaryTree> tree = reference::buildFromSortedLists(r->nodes);
        benchmark::DoNotOptimize(tree.get());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildTree)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The same tree made the way a run makes it, reading each point once, on
// one thread and on two.
void BM_BuildOver(benchmark::State& state)
{
    const auto r = randomCloud(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto tree = std::make_unique<Tree>();
        tree->build(r->nodes, nullptr, static_cast<unsigned>(state.range(1)));
        benchmark::DoNotOptimize(tree->leaves().data());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildOver)->Args({100000, 1})->Args({1000000, 1})->Args({1000000, 2})->Unit(benchmark::kMillisecond);

// A sphere around a random point holding about a dozen points, as for an
// edge of ordinary length on a scan.
void BM_SphereQuery(benchmark::State& state)
{
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const auto r = randomCloud(count);
    Tree tree;
    tree.build(r->nodes);
    const double radius = 1.5 / std::cbrt(static_cast<double>(count));
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Nodes out;
    std::size_t found = 0;
    for (auto _ : state) {
        const SphereSearch sphere(CGVertex{unit(random), unit(random), unit(random)}, radius);
        out.clear();
        tree.searchFromRoot(out, sphere);
        found += out.size();
    }
    state.counters["points"] = benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SphereQuery)->Arg(100000)->Arg(1000000);

}  // namespace
