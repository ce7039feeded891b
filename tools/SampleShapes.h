#pragma once

// Deterministic oriented point samples of simple closed surfaces, shared by
// the sample writer and the benchmarks.

#include <cstddef>
#include <cstdint>
#include <vector>

struct SamplePoint {
    double x, y, z, nx, ny, nz;
};

// About count points spread evenly over a sphere of the given radius
// around the origin.
std::vector<SamplePoint> sphereSample(std::size_t count, double radius);

// About count points spread evenly over a torus about the z axis.
std::vector<SamplePoint> torusSample(std::size_t count, double major, double minor);

// count copies of one point: the heap of coincident points a scanner
// leaves when it stalls.
std::vector<SamplePoint> copiesSample(std::size_t count);

// count points of a square-ish grid around the origin in the plane z = 0,
// ordered by x and then by y, as exported rasters often come. The spacing
// is a power of two, so every coordinate is exact and many distances tie.
// The last column may be short, so the count is exact.
std::vector<SamplePoint> gridSample(std::size_t count);

// The next number of SplitMix64 from state, which it advances: tiny, fast
// and the same on every platform.
std::uint64_t nextRandom(std::uint64_t& state);

// Shuffles points in place with a fixed seed, so that a sample is never
// ordered by a coordinate and is the same on every platform.
void shuffleSample(std::vector<SamplePoint>& points);
