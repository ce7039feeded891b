// Writes deterministic oriented point samples of simple closed surfaces.
//
//   make_samples torus <points> <file>
//   make_samples sphere <points> <file>
//   make_samples jittered-torus <points> <file>
//   make_samples random-torus <points> <file>
//   make_samples grid-torus <points> <file>
//   make_samples jittered-sphere <points> <file>
//   make_samples random-sphere <points> <file>
//   make_samples noisy-sphere <points> <file>
//   make_samples copies <points> <file>
//   make_samples grid <points> <file>
//
// The lattice torus and sphere place their points on rings and a spiral,
// every point with neighbours at nearly equal distances; the jittered ones
// put one point at a random place in each cell of an even grid over the
// surface, the random ones place every point independently, the grid
// torus puts them on its parameter grid, and the noisy
// sphere moves the jittered sphere's points off the surface by up to a
// quarter of the spacing. The torus and sphere points are shuffled with a fixed seed, so the file is
// never ordered by a coordinate. The copies (one point, repeated) and the
// flat grid (written sorted by x) are hard cases for the benchmarks and are
// left in their worst order on purpose. The same arguments always give the
// same bytes. Sizes fit the viewer's default view: the models stay within
// about 40 units of the origin.

#include "SampleShapes.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t kSeed = 16;

int usage()
{
    std::fprintf(
        stderr,
        "usage: make_samples "
        "<torus|sphere|jittered-torus|random-torus|grid-torus|jittered-sphere|random-sphere|noisy-sphere|copies|"
        "grid> <points> <file>\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return usage();
    const long count = std::strtol(argv[2], nullptr, 10);
    if (count < 1)
        return usage();

    const std::size_t n = static_cast<std::size_t>(count);
    std::vector<SamplePoint> points;
    if (std::strcmp(argv[1], "torus") == 0) {
        points = torusSample(n, 25.0, 10.0);
        shuffleSample(points);
    } else if (std::strcmp(argv[1], "sphere") == 0) {
        points = sphereSample(n, 30.0);
        shuffleSample(points);
    } else if (std::strcmp(argv[1], "jittered-torus") == 0) {
        points = jitteredTorusSample(n, 25.0, 10.0, kSeed);
        shuffleSample(points);
    } else if (std::strcmp(argv[1], "random-torus") == 0) {
        points = randomTorusSample(n, 25.0, 10.0, kSeed);
    } else if (std::strcmp(argv[1], "grid-torus") == 0) {
        points = gridTorusSample(n, 25.0, 10.0);
        shuffleSample(points);
    } else if (std::strcmp(argv[1], "jittered-sphere") == 0) {
        points = jitteredSphereSample(n, 30.0, kSeed);
        shuffleSample(points);
    } else if (std::strcmp(argv[1], "random-sphere") == 0) {
        points = randomSphereSample(n, 30.0, kSeed);
    } else if (std::strcmp(argv[1], "noisy-sphere") == 0) {
        points = noisySphereSample(n, 30.0, 0.25, kSeed);
        shuffleSample(points);
    } else if (std::strcmp(argv[1], "copies") == 0) {
        points = copiesSample(n);
    } else if (std::strcmp(argv[1], "grid") == 0) {
        points = gridSample(n);
    } else {
        return usage();
    }

    std::FILE* file = std::fopen(argv[3], "w");
    if (file == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    for (const SamplePoint& p : points)
        std::fprintf(file, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
    if (std::fclose(file) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
