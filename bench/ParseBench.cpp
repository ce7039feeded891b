// The point-file reader on its own: the line parser over typical lines, and
// a whole file read from disk the way loading does it.

#include "SampleShapes.h"
#include "io/PointFileReader.h"

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Lines as the sample writer prints them, so the bench reads what real
// point files hold.
std::string torusText(std::size_t count)
{
    std::vector<SamplePoint> points = torusSample(count, 25.0, 10.0);
    shuffleSample(points);
    std::string text;
    char line[256];
    for (const SamplePoint& p : points) {
        const int n =
            std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text.append(line, static_cast<std::size_t>(n));
    }
    return text;
}

const std::string& benchText()
{
    static const std::string text = torusText(250000);
    return text;
}

void BM_ParseLine(benchmark::State& state)
{
    const std::string& text = benchText();
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start) + 1;
        lines.emplace_back(text.data() + start, end - start);
        start = end;
    }
    CGVertex position;
    CGVector normal;
    for (auto _ : state) {
        for (std::string_view line : lines) {
            benchmark::DoNotOptimize(parseLine(line, position, normal));
            benchmark::DoNotOptimize(position);
            benchmark::DoNotOptimize(normal);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseLine)->Unit(benchmark::kMillisecond);

void BM_ReadPointFile(benchmark::State& state)
{
    const std::string& text = benchText();
    const std::string path = "/tmp/tri3d_parse_bench_" + std::to_string(::getpid()) + ".xyz";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0) {
        state.SkipWithError("cannot write the bench file");
        return;
    }
    for (auto _ : state) {
        // Kept the way loading keeps them, so the sink's cost is counted too.
        std::vector<std::pair<CGVertex, CGVector>> points;
        const bool ok = readPointFile(path, [&points](const CGVertex& position, const CGVector& normal) {
            points.emplace_back(position, normal);
        });
        if (!ok)
            state.SkipWithError("cannot read the bench file");
        benchmark::DoNotOptimize(points.data());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReadPointFile)->Unit(benchmark::kMillisecond);

}  // namespace
