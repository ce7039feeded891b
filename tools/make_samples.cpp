// Writes deterministic oriented point samples of simple closed surfaces.
//
//   make_samples torus <points> <file>
//   make_samples sphere <points> <file>
//
// The points are shuffled with a fixed seed, so the file is never ordered by
// a coordinate, and the same arguments always give the same bytes. Sizes fit
// the viewer's default view: the models stay within about 40 units of the
// origin.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Point {
    double x, y, z, nx, ny, nz;
};

constexpr double kPi = 3.14159265358979323846;

// SplitMix64: tiny, fast and the same on every platform.
std::uint64_t nextRandom(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Points spread evenly by the golden angle.
std::vector<Point> sphere(std::size_t count, double radius)
{
    std::vector<Point> points;
    const double golden = kPi * (3.0 - std::sqrt(5.0));
    for (std::size_t i = 0; i < count; ++i) {
        const double y = 1.0 - 2.0 * (static_cast<double>(i) + 0.5) / static_cast<double>(count);
        const double r = std::sqrt(1.0 - y * y);
        const double phi = golden * static_cast<double>(i);
        const double nx = r * std::cos(phi), nz = r * std::sin(phi);
        points.push_back({radius * nx, radius * y, radius * nz, nx, y, nz});
    }
    return points;
}

// Rings around the tube, each ring's point count following its
// circumference, so the spacing is about even over the whole surface.
std::vector<Point> torus(std::size_t count, double major, double minor)
{
    const double area = 4.0 * kPi * kPi * major * minor;
    const double spacing = std::sqrt(area / static_cast<double>(count));
    const int rings = static_cast<int>(std::lround(2.0 * kPi * minor / spacing));
    std::vector<Point> points;
    for (int j = 0; j < rings; ++j) {
        const double v = 2.0 * kPi * j / rings;
        const double ringRadius = major + minor * std::cos(v);
        const int perRing = static_cast<int>(std::lround(2.0 * kPi * ringRadius / spacing));
        const double offset = (j % 2) * 0.5;  // stagger rings so triangles are not right-angled
        for (int i = 0; i < perRing; ++i) {
            const double u = 2.0 * kPi * (i + offset) / perRing;
            const double nx = std::cos(v) * std::cos(u), ny = std::cos(v) * std::sin(u), nz = std::sin(v);
            points.push_back({ringRadius * std::cos(u), ringRadius * std::sin(u), minor * nz, nx, ny, nz});
        }
    }
    return points;
}

int usage()
{
    std::fprintf(stderr, "usage: make_samples <torus|sphere> <points> <file>\n");
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

    std::vector<Point> points;
    if (std::strcmp(argv[1], "torus") == 0)
        points = torus(static_cast<std::size_t>(count), 25.0, 10.0);
    else if (std::strcmp(argv[1], "sphere") == 0)
        points = sphere(static_cast<std::size_t>(count), 30.0);
    else
        return usage();

    std::uint64_t state = 20261207;
    for (std::size_t i = points.size(); i > 1; --i)
        std::swap(points[i - 1], points[nextRandom(state) % i]);

    std::FILE* file = std::fopen(argv[3], "w");
    if (file == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    for (const Point& p : points)
        std::fprintf(file, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
    if (std::fclose(file) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
