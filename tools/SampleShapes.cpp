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

namespace {

// A uniform double in [0, 1), from the top 53 bits.
double nextUnit(std::uint64_t& state)
{
    return static_cast<double>(nextRandom(state) >> 11) * (1.0 / 9007199254740992.0);
}

SamplePoint torusPoint(double u, double v, double major, double minor)
{
    const double ringRadius = major + minor * std::cos(v);
    const double nx = std::cos(v) * std::cos(u), ny = std::cos(v) * std::sin(u), nz = std::sin(v);
    return {ringRadius * std::cos(u), ringRadius * std::sin(u), minor * nz, nx, ny, nz};
}

SamplePoint spherePoint(double y, double phi, double radius)
{
    const double r = std::sqrt(std::max(0.0, 1.0 - y * y));
    const double nx = r * std::cos(phi), nz = r * std::sin(phi);
    return {radius * nx, radius * y, radius * nz, nx, y, nz};
}

}  // namespace

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

std::vector<SamplePoint> jitteredTorusSample(std::size_t count, double major, double minor, std::uint64_t seed)
{
    // The rings of torusSample, each cell of a ring taking its point at a
    // random place inside it rather than at its corner.
    const double area = 4.0 * kPi * kPi * major * minor;
    const double spacing = std::sqrt(area / static_cast<double>(count));
    const int rings = static_cast<int>(std::lround(2.0 * kPi * minor / spacing));
    std::uint64_t state = seed;
    std::vector<SamplePoint> points;
    points.reserve(count + count / 16);
    for (int j = 0; j < rings; ++j) {
        const double ringRadius = major + minor * std::cos(2.0 * kPi * (j + 0.5) / rings);
        const int perRing = static_cast<int>(std::lround(2.0 * kPi * ringRadius / spacing));
        for (int i = 0; i < perRing; ++i) {
            const double v = 2.0 * kPi * (j + nextUnit(state)) / rings;
            const double u = 2.0 * kPi * (i + nextUnit(state)) / perRing;
            points.push_back(torusPoint(u, v, major, minor));
        }
    }
    return points;
}

std::vector<SamplePoint> gridTorusSample(std::size_t count, double major, double minor)
{
    const auto around = std::max<long>(3, std::lround(std::sqrt(static_cast<double>(count) * 1.25)));
    const auto about = std::max<long>(3, std::lround(static_cast<double>(around) * 0.8));
    std::vector<SamplePoint> points;
    points.reserve(static_cast<std::size_t>(around * about));
    for (long j = 0; j < about; ++j)
        for (long i = 0; i < around; ++i)
            points.push_back(torusPoint(2.0 * kPi * static_cast<double>(i) / static_cast<double>(around),
                                        2.0 * kPi * static_cast<double>(j) / static_cast<double>(about), major, minor));
    return points;
}

std::vector<SamplePoint> randomTorusSample(std::size_t count, double major, double minor, std::uint64_t seed)
{
    // The area element grows with the distance from the axis: keep a
    // uniform (u, v) in proportion to it.
    std::uint64_t state = seed;
    std::vector<SamplePoint> points;
    points.reserve(count);
    while (points.size() < count) {
        const double u = 2.0 * kPi * nextUnit(state);
        const double v = 2.0 * kPi * nextUnit(state);
        if (nextUnit(state) * (major + minor) < major + minor * std::cos(v))
            points.push_back(torusPoint(u, v, major, minor));
    }
    return points;
}

std::vector<SamplePoint> jitteredSphereSample(std::size_t count, double radius, std::uint64_t seed)
{
    // Bands of equal width in latitude, each cut into cells about as long
    // as they are wide; a point at a place uniform over each cell's area
    // (uniform in height and angle, as Archimedes has it).
    const double spacing = std::sqrt(4.0 * kPi / static_cast<double>(count));
    const int bands = std::max(1, static_cast<int>(std::lround(kPi / spacing)));
    std::uint64_t state = seed;
    std::vector<SamplePoint> points;
    points.reserve(count + count / 16);
    for (int j = 0; j < bands; ++j) {
        const double top = std::cos(kPi * j / bands);
        const double bottom = std::cos(kPi * (j + 1) / bands);
        const double area = 2.0 * kPi * (top - bottom);
        const int cells = std::max(1, static_cast<int>(std::lround(area / (spacing * spacing))));
        for (int i = 0; i < cells; ++i) {
            const double y = top - (top - bottom) * nextUnit(state);
            const double phi = 2.0 * kPi * (i + nextUnit(state)) / cells;
            points.push_back(spherePoint(y, phi, radius));
        }
    }
    return points;
}

std::vector<SamplePoint> randomSphereSample(std::size_t count, double radius, std::uint64_t seed)
{
    // Uniform height and angle are uniform over the area (Archimedes).
    std::uint64_t state = seed;
    std::vector<SamplePoint> points;
    points.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double y = 1.0 - 2.0 * nextUnit(state);
        points.push_back(spherePoint(y, 2.0 * kPi * nextUnit(state), radius));
    }
    return points;
}

std::vector<SamplePoint> noisySphereSample(std::size_t count, double radius, double noise, std::uint64_t seed)
{
    std::vector<SamplePoint> points = jitteredSphereSample(count, radius, seed);
    const double spacing = radius * std::sqrt(4.0 * kPi / static_cast<double>(count));
    std::uint64_t state = seed ^ 0x5DEECE66DULL;
    for (SamplePoint& p : points) {
        const double shift = (2.0 * nextUnit(state) - 1.0) * noise * spacing;
        p.x += shift * p.nx;
        p.y += shift * p.ny;
        p.z += shift * p.nz;
    }
    return points;
}

std::vector<SamplePoint> copiesSample(std::size_t count)
{
    return std::vector<SamplePoint>(count, SamplePoint{1.0, 2.0, 3.0, 0.0, 0.0, 1.0});
}

std::vector<SamplePoint> gridSample(std::size_t count)
{
    const std::size_t perColumn =
        std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(std::sqrt(static_cast<double>(count)))));
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
