// Times the two stages of a run on one point file, in-process:
//
//   stage_times <file> <0|1>
//
// where 1 picks the KD-tree search and 0 the linear one, read as tri3d reads
// the value of kd:. It prints one line, e.g.
//
//   points=999279 load_ms=512.3 triangulate_ms=5805.1 triangles=1998558
//
// The program's own report has no load time, and the wall time of a whole
// run also holds process start-up and the teardown of the mesh. Timing
// the load here with a steady clock gives the parse speed alone, and the
// triangle count comes without writing a mesh file that would itself cost
// time and memory. Exit code 1 when the file cannot be read.

#include "app/PointLoading.h"
#include "mesh/Reconstruct.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: stage_times <file> <0|1>\n");
        return 2;
    }
    const bool useKd = std::atoi(argv[2]) != 0;

    Reconstruct r;
    auto start = std::chrono::steady_clock::now();
    {
        LoadReport report;
        LoadedPoints points;
        if (!loadPoints(argv[1], LoadOptions(), report, points)) {
            std::fprintf(stderr, "stage_times: cannot read %s\n", argv[1]);
            return 1;
        }
        r.setPoints(points.positions, points.normals);
    }
    const double loadMs = millisecondsSince(start);

    start = std::chrono::steady_clock::now();
    r.triangulate(useKd);
    const double triangulateMs = millisecondsSince(start);

    std::printf("points=%zu load_ms=%.1f triangulate_ms=%.1f triangles=%zu\n", r.nodes.size(), loadMs, triangulateMs,
                r.triangles.size());
    return 0;
}
