// A whole program on the installed library: reads a point file, estimates
// normals where it has none, reconstructs, repairs and writes the surface.
//
//   reconstruct <points> <mesh> [linear]

#include <tri3d/tri3d.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: reconstruct <points> <mesh> [linear]\n");
        return 2;
    }
    try {
        tri3d::Cloud cloud = tri3d::readPoints(argv[1]);
        if (cloud.normals.empty())
            tri3d::estimateNormals(cloud);
        const tri3d::Search search =
            argc > 3 && std::string(argv[3]) == "linear" ? tri3d::Search::Linear : tri3d::Search::KdTree;
        tri3d::Mesh mesh = tri3d::reconstruct(cloud, search);
        std::printf("%zu points, %zu faces\n", mesh.positions.size(), mesh.faces.size());
        tri3d::repair(mesh);
        const tri3d::Report report = tri3d::report(mesh);
        std::printf("after repair: %llu faces, %llu boundary loops, Euler characteristic %lld\n",
                    static_cast<unsigned long long>(report.faces),
                    static_cast<unsigned long long>(report.boundaryLoops),
                    static_cast<long long>(report.eulerCharacteristic));
        tri3d::writeMesh(argv[2], mesh);
    } catch (const tri3d::Error& error) {
        std::fprintf(stderr, "reconstruct: %s\n", error.what());
        return 1;
    }
    return 0;
}
