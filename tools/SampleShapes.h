#pragma once

// Deterministic oriented point samples of simple closed surfaces, shared by
// the sample writer and the benchmarks.

#include <cstddef>
#include <vector>

struct SamplePoint {
    double x, y, z, nx, ny, nz;
};

// About count points spread evenly over a sphere of the given radius
// around the origin.
std::vector<SamplePoint> sphereSample(std::size_t count, double radius);

// About count points spread evenly over a torus about the z axis.
std::vector<SamplePoint> torusSample(std::size_t count, double major, double minor);

// Shuffles points in place with a fixed seed, so that a sample is never
// ordered by a coordinate and is the same on every platform.
void shuffleSample(std::vector<SamplePoint>& points);
