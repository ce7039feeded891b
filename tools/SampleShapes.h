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

// About count points over a torus about the z axis, one at a random place
// in each cell of an even grid over the surface (jittered sampling), as a
// scanner's points lie: neighbours at uneven distances, degrees from three
// to over a dozen. Deterministic for a given seed.
std::vector<SamplePoint> jitteredTorusSample(std::size_t count, double major, double minor, std::uint64_t seed);

// About count points on the torus's parameter grid: rings about the tube
// and around the axis at even angles, five steps around the axis for every
// four about the tube (500 by 400 for 200,000). Every cell's four corners
// lie on one circle, so the candidate search meets exact ties everywhere,
// as on the grids of range cameras and parametric exports.
std::vector<SamplePoint> gridTorusSample(std::size_t count, double major, double minor);

// Exactly count points placed independently and uniformly over the torus's
// area: clumps and gaps, the worst spacing a cloud of points can have.
std::vector<SamplePoint> randomTorusSample(std::size_t count, double major, double minor, std::uint64_t seed);

// About count points over a sphere, one at a random place in each cell of
// bands of equal area.
std::vector<SamplePoint> jitteredSphereSample(std::size_t count, double radius, std::uint64_t seed);

// Exactly count points placed independently and uniformly over a sphere.
std::vector<SamplePoint> randomSphereSample(std::size_t count, double radius, std::uint64_t seed);

// The jittered sphere with every point moved along its normal by up to
// noise times the mean spacing either way; the normals stay exact, as an
// estimator over a noisy scan would make them nearly.
std::vector<SamplePoint> noisySphereSample(std::size_t count, double radius, double noise, std::uint64_t seed);

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
