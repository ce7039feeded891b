#include "app/Console.h"

#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <string>
#include <vector>

void printBanner(std::ostream& out)
{
    out << "\nTriangulation in 3D  -  tri3d, surfaces from oriented points\n\n" << std::flush;
}

void printUsage(std::ostream& out)
{
    out << "mandatory arguments are:\n"
           "  file:<filename>  - load vertices from file\n"
           "\n"
           "optional arguments are:\n"
           "  kd:<0|1>         - activate normal (Linear) use or optimized (KD) use\n"
           "                     default: 1 (use kd)\n"
           "  dots:<0|1>       - show vertices\n"
           "                     default: 1 (true)\n"
           "  mesh:<0|1>       - show triangle-mesh\n"
           "                     default: 1 (true)\n"
           "  tri:<0|1>        - show triangles\n"
           "                     default: 0 (false)\n"
           "  transx:<value>   - translation along x-axis\n"
           "                     default: 0\n"
           "  transy:<value>   - translation along y-axis\n"
           "                     default: 0\n"
           "  zoom:<value>     - translation along z-axis\n"
           "                     default: -25\n"
           "\n"
        << std::flush;
}

void printMoreOptions(std::ostream& err)
{
    err << "more options (see README.md):\n"
           "  out:<file>       - save the surface: .ply, .obj, .off or .stl, by extension\n"
           "  view:<0|1>       - 0: no window; end after the report (default: 1)\n"
           "  shot:<file.png>  - render the first frame into a PNG instead of a window\n"
           "  fit:<0|1>        - 1: centre and scale the model to fill the frame (default: 0)\n"
           "  angle:<degrees>  - the turning angle the view starts from (default: 0)\n"
           "  report:<0|1>     - 1: count faces, edges, holes and faults of the surface (default: 0)\n"
           "  clean:<0|1>      - 1: repair the surface before it is saved and shown (default: 0)\n"
           "  holes:<N>        - the repair grows holes over their points, then bridges outlines of at most N edges;\n"
           "                     0 keeps open borders (default: 30)\n"
           "  normals:<mode>   - auto: the file's, estimated when it has none or all are zero;\n"
           "                     file: the file's only; estimate: always estimated (default: auto)\n"
           "  neighbours:<k>   - neighbours an estimated normal looks at, 3 to 100 (default: 16)\n"
           "  progress:<0|1>   - show how far long stages have got, on standard error\n"
           "                     default: only where standard error is a terminal\n"
           "  frames:<N>       - close the window after N frames and print the frame rate\n"
           "                     on standard error (default: 0, until closed)\n"
           "  tiles:<N>        - cut the points into N tiles, grown apart and joined at the seams;\n"
           "                     the result depends on N alone (default: 1, the single front)\n"
           "  threads:<T>      - run the tiles, reading, normal estimation, the KD-tree's build\n"
           "                     and clean:1's threaded steps on at most T threads;\n"
           "                     the faces are the same (default: every core)\n"
        << std::flush;
}

void printSurfaceReport(std::ostream& out, const SurfaceReport& report)
{
    out << "  faces: " << report.faces << '\n'
        << "  vertices used: " << report.verticesUsed << '\n'
        << "  edges: " << report.edges << '\n'
        << "  boundary edges: " << report.boundaryEdges << '\n'
        << "  boundary loops: " << report.boundaryLoops << '\n'
        << "  non-manifold edges: " << report.nonManifoldEdges << '\n'
        << "  inconsistent edges: " << report.inconsistentEdges << '\n'
        << "  duplicate faces: " << report.duplicateFaces << '\n'
        << "  zero-area faces: " << report.zeroAreaFaces << '\n'
        << "  components: " << report.components << '\n'
        << "  Euler characteristic: " << report.eulerCharacteristic << '\n';
    // Twelve significant digits read back well within 1e-9 of the sum.
    const std::streamsize precision = out.precision(12);
    out << "  area: " << report.area << std::endl;
    out.precision(precision);
}

void printRepair(std::ostream& out, const RepairCounts& counts, std::uint64_t milliseconds)
{
    out << "  removed duplicate faces: " << counts.removedDuplicates << '\n'
        << "  removed fold-overs: " << counts.removedFoldOvers << '\n'
        << "  removed small pieces: " << counts.removedPieces << '\n'
        << "  flipped faces: " << counts.flippedFaces << '\n'
        << "  filled holes: " << counts.filledHoles << '\n'
        << "  faces added: " << counts.facesAdded << '\n'
        << "  holes left open: " << counts.holesLeftOpen << '\n'
        << "  removed crossing faces: " << counts.removedIntersecting << '\n'
        << "  points taken into holes: " << counts.refilledPoints << '\n'
        << "  turned edges: " << counts.turnedEdges << '\n'
        << "  repair time: " << milliseconds << " milliseconds" << std::endl;
}

bool printSurfaceFaults(std::ostream& err, const SurfaceReport& report)
{
    if (report.inconsistentEdges == 0 && report.nonManifoldEdges == 0 && report.duplicateFaces == 0)
        return false;
    std::vector<std::string> parts;
    const auto add = [&parts](std::uint64_t count, const char* one, const char* many) {
        if (count > 0)
            parts.push_back(groupedCount(count) + (count == 1 ? one : many));
    };
    add(report.inconsistentEdges, " inconsistently wound edge", " inconsistently wound edges");
    add(report.nonManifoldEdges, " edge of more than two faces", " edges of more than two faces");
    add(report.duplicateFaces, " duplicate face", " duplicate faces");
    add(report.boundaryEdges, " open edge", " open edges");
    err << "tri3d: the surface has ";
    for (std::size_t i = 0; i < parts.size(); ++i)
        err << (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") << parts[i];
    err << "; clean:1 repairs them" << std::endl;
    return true;
}

std::string groupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string roughBytes(std::uint64_t bytes)
{
    // Two figures say all an estimate can: 700 MB, not 699 MB.
    char text[32];
    const double value = static_cast<double>(bytes);
    if (value >= 9.95e9)
        std::snprintf(text, sizeof text, "%.0f GB", value / 1e9);
    else if (value >= 0.995e9)
        std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
    else if (value >= 99.5e6)
        std::snprintf(text, sizeof text, "%.0f MB", std::round(value / 1e7) * 10.0);
    else
        std::snprintf(text, sizeof text, "%.0f MB", value / 1e6);
    return text;
}
