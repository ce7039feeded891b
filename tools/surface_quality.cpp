// Measures a mesh file the way the repair's quality table reads it: open
// outlines, components, genus with holes counted, faces that cross each
// other, the share of slivers and the points no face uses.
//
//   surface_quality <mesh.off>
//
// Only the text OFF that tri3d writes (triangles) is read.

#include "repair/SelfIntersections.h"
#include "repair/SurfaceMath.h"
#include "repair/SurfaceReport.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: surface_quality <mesh.off>\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::string magic;
    std::size_t vertices = 0, faces = 0, edges = 0;
    if (!(in >> magic >> vertices >> faces >> edges) || magic != "OFF") {
        std::fprintf(stderr, "surface_quality: %s is not an OFF file\n", argv[1]);
        return 1;
    }
    Surface s;
    s.positions.resize(vertices);
    for (CGVertex& p : s.positions)
        in >> p.x >> p.y >> p.z;
    s.faces.resize(faces);
    for (Face& f : s.faces) {
        int corners = 0;
        in >> corners >> f[0] >> f[1] >> f[2];
        if (corners != 3 || f[0] >= vertices || f[1] >= vertices || f[2] >= vertices) {
            std::fprintf(stderr, "surface_quality: %s has a face that is no triangle of its points\n", argv[1]);
            return 1;
        }
    }
    if (!in) {
        std::fprintf(stderr, "surface_quality: %s ends early\n", argv[1]);
        return 1;
    }
    s.normals.assign(vertices, CGVector{});

    const SurfaceReport r = reportOn(s);
    const double tenDegrees = std::cos(10.0 * 3.14159265358979323846 / 180.0);
    std::size_t slivers = 0;
    for (const Face& f : s.faces)
        slivers += smallestAngleCosine(s.positions, f) > tenDegrees;
    // genus of a surface with holes: 2C - chi - B = 2g
    const long long twiceGenus =
        2 * static_cast<long long>(r.components) - r.eulerCharacteristic - static_cast<long long>(r.boundaryLoops);
    std::printf("boundary loops: %llu\n", static_cast<unsigned long long>(r.boundaryLoops));
    std::printf("non-manifold edges: %llu\n", static_cast<unsigned long long>(r.nonManifoldEdges));
    std::printf("inconsistent edges: %llu\n", static_cast<unsigned long long>(r.inconsistentEdges));
    std::printf("components: %llu\n", static_cast<unsigned long long>(r.components));
    std::printf("genus: %g\n", 0.5 * static_cast<double>(twiceGenus));
    std::printf("crossing pairs: %zu\n", intersectingPairs(s.positions, s.faces).size());
    std::printf("slivers: %.4f\n", faces > 0 ? static_cast<double>(slivers) / static_cast<double>(faces) : 0.0);
    std::printf("points left out: %llu\n", static_cast<unsigned long long>(vertices - r.verticesUsed));
    return 0;
}
