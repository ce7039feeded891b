// Pins the exact face lists of a few generated inputs of a few thousand
// points, for both searches. Any change that alters a single decision (a
// tie broken the other way, a candidate missed, a corner order flipped)
// changes a checksum.

#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include "SampleShapes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Uniform in [-1, 1), exact in binary.
double jitter(std::uint64_t& state)
{
    return static_cast<double>(nextRandom(state) >> 11) * 0x1.0p-52 - 1.0;
}

// Point-file text with six decimals, as scanners write it; the rounding also
// keeps the inputs identical where the maths library's last bit differs.
std::string toText(const std::vector<SamplePoint>& points)
{
    std::string text;
    char line[256];
    for (const SamplePoint& p : points) {
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += line;
    }
    return text;
}

std::vector<SamplePoint> shuffledTorus()
{
    std::vector<SamplePoint> points = torusSample(3000, 25.0, 10.0);
    shuffleSample(points);
    return points;
}

std::vector<SamplePoint> shuffledSphere()
{
    std::vector<SamplePoint> points = sphereSample(2500, 30.0);
    shuffleSample(points);
    return points;
}

// A scan's noise: positions and normals shaken, some points repeated.
std::vector<SamplePoint> noisyTorus()
{
    std::vector<SamplePoint> points = torusSample(2000, 20.0, 8.0);
    std::uint64_t state = 7;
    for (SamplePoint& p : points) {
        p.x += 0.4 * jitter(state);
        p.y += 0.4 * jitter(state);
        p.z += 0.4 * jitter(state);
        p.nx += 0.3 * jitter(state);
        p.ny += 0.3 * jitter(state);
    }
    for (std::size_t i = 0; i < points.size(); i += 37)
        points.push_back(points[i]);
    shuffleSample(points);
    return points;
}

// A flat grid written sorted by x: ties on every axis.
std::vector<SamplePoint> sortedGrid()
{
    std::vector<SamplePoint> points;
    for (int x = 0; x < 50; ++x)
        for (int y = 0; y < 50; ++y)
            points.push_back({x * 1.0, y * 1.0, 0.0, 0.0, 0.0, 1.0});
    return points;
}

// Clumps of near and exactly coincident points.
std::vector<SamplePoint> clumps()
{
    std::vector<SamplePoint> points;
    std::uint64_t state = 11;
    for (int c = 0; c < 300; ++c) {
        const double cx = 30.0 * jitter(state), cy = 30.0 * jitter(state), cz = 3.0 * jitter(state);
        for (int k = 0; k < 5; ++k) {
            const double spread = k < 2 ? 0.0 : 0.5;
            points.push_back({cx + spread * jitter(state), cy + spread * jitter(state), cz + spread * jitter(state),
                              0.1 * jitter(state), 0.1 * jitter(state), 1.0});
        }
    }
    return points;
}

// Points in a cube with normals anywhere: no surface at all.
std::vector<SamplePoint> cloud()
{
    std::vector<SamplePoint> points;
    std::uint64_t state = 13;
    for (int i = 0; i < 1500; ++i)
        points.push_back({10.0 * jitter(state), 10.0 * jitter(state), 10.0 * jitter(state), jitter(state),
                          jitter(state), jitter(state)});
    return points;
}

// FNV-1a over the face list the program exports: every triangle's three
// node indices, in the order of recording.
std::uint64_t faceChecksum(const Reconstruct& r)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const Triangle& t : r.triangles)
        for (std::size_t index : t.source)
            for (int byte = 0; byte < 8; ++byte) {
                hash ^= (static_cast<std::uint64_t>(index) >> (8 * byte)) & 0xff;
                hash *= 0x100000001b3ULL;
            }
    return hash;
}

struct Pinned {
    const char* name;
    std::vector<SamplePoint> (*make)();
    bool useKd;
    std::size_t triangles;
    std::uint64_t checksum;
};

const Pinned kPinned[] = {
    {"torus", shuffledTorus, false, 6062, 0x90a8a60486725da0ULL},
    {"torus", shuffledTorus, true, 6062, 0x0f50d19f3eef6b49ULL},
    {"sphere", shuffledSphere, false, 4996, 0xdf1ca3d6ad180828ULL},
    {"sphere", shuffledSphere, true, 4996, 0xdf1ca3d6ad180828ULL},
    {"noisy torus", noisyTorus, false, 4280, 0x270ebe3ae06862dbULL},
    {"noisy torus", noisyTorus, true, 4061, 0x83c3cee9dfb17a82ULL},
    {"sorted grid", sortedGrid, false, 4802, 0x014f6b9be9ecca2dULL},
    {"sorted grid", sortedGrid, true, 4802, 0x014f6b9be9ecca2dULL},
    {"clumps", clumps, false, 3714, 0x97216193b0b48020ULL},
    {"clumps", clumps, true, 2891, 0x21fb9965f9d2dae3ULL},
    {"cloud", cloud, false, 3799, 0x134b239fcd675563ULL},
    {"cloud", cloud, true, 3659, 0x36713bd83ecfe68aULL},
};

}  // namespace

TEST(FaceListPin, EveryDecisionStaysAsRecorded)
{
    for (const Pinned& pin : kPinned) {
        SCOPED_TRACE(std::string(pin.name) + (pin.useKd ? ", KD-tree" : ", linear"));
        Reconstruct r;
        testsupport::loadPoints(r, toText(pin.make()));
        r.triangulate(pin.useKd);
        EXPECT_EQ(testsupport::findInvariantFault(r), "");
        EXPECT_EQ(r.triangles.size(), pin.triangles);
        EXPECT_EQ(faceChecksum(r), pin.checksum) << std::hex << "0x" << faceChecksum(r);
    }
}
