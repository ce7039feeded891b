#include "SampleShapes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

std::uint64_t nextRandom(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Points spread evenly by the golden angle.
std::vector<SamplePoint> sphereSample(std::size_t count, double radius)
{
    std::vector<SamplePoint> points;
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
std::vector<SamplePoint> torusSample(std::size_t count, double major, double minor)
{
    const double area = 4.0 * kPi * kPi * major * minor;
    const double spacing = std::sqrt(area / static_cast<double>(count));
    const int rings = static_cast<int>(std::lround(2.0 * kPi * minor / spacing));
    std::vector<SamplePoint> points;
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

std::vector<SamplePoint> copiesSample(std::size_t count)
{
    return std::vector<SamplePoint>(count, SamplePoint{1.0, 2.0, 3.0, 0.0, 0.0, 1.0});
}

std::vector<SamplePoint> gridSample(std::size_t count)
{
    const std::size_t perColumn = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(std::sqrt(static_cast<double>(count)))));
    // Halving keeps coordinates exact in binary; 80 units fit the viewer.
    double spacing = 1.0;
    while (static_cast<double>(perColumn) * spacing > 80.0)
        spacing *= 0.5;
    const double offset = static_cast<double>(perColumn / 2) * spacing;
    std::vector<SamplePoint> points;
    points.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double x = static_cast<double>(i / perColumn) * spacing - offset;
        const double y = static_cast<double>(i % perColumn) * spacing - offset;
        points.push_back({x, y, 0.0, 0.0, 0.0, 1.0});
    }
    return points;
}

void shuffleSample(std::vector<SamplePoint>& points)
{
    std::uint64_t state = 20261207;
    for (std::size_t i = points.size(); i > 1; --i)
        std::swap(points[i - 1], points[nextRandom(state) % i]);
}
