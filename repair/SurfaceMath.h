#pragma once

#include "geometry/Surface.h"

#include <algorithm>
#include <cmath>

// Small vector helpers the report and the repair share; every sum runs x,
// then y, then z, as in geometry/.

inline CGVector cross(const CGVector& a, const CGVector& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double length(const CGVector& v)
{
    return std::sqrt(squaredLength(v));
}

// Twice the face's area, along its normal by the right-hand rule.
inline CGVector faceCross(const std::vector<CGVertex>& positions, const Face& face)
{
    const CGVertex& a = positions[face[0]];
    return cross(positions[face[1]] - a, positions[face[2]] - a);
}

// The fit of a face of no area: below any sum of three cosines, so such a
// face is always the one to go.
constexpr double kNoPlane = -4.0;

// How well the face's plane fits its corners' normals: the sum of the
// cosines between the face normal and each usable corner normal.
inline double faceAgreement(const Surface& surface, const Face& face)
{
    const CGVector n = faceCross(surface.positions, face);
    const double nl = length(n);
    if (!(nl > 0.0))
        return kNoPlane;
    double sum = 0.0;
    for (std::uint32_t corner : face) {
        const CGVector& m = surface.normals[corner];
        const double ml = length(m);
        if (ml > 0.0 && std::isfinite(ml))
            sum += dot(n, m) / (nl * ml);
    }
    return sum;
}

// The cosine of the face's smallest angle (the largest cosine), 1 for a
// face of no area.
inline double smallestAngleCosine(const std::vector<CGVertex>& positions, const Face& face)
{
    double worst = -1.0;
    for (int k = 0; k < 3; ++k) {
        const CGVector u = positions[face[(k + 1) % 3]] - positions[face[k]];
        const CGVector v = positions[face[(k + 2) % 3]] - positions[face[k]];
        const double lu = length(u), lv = length(v);
        if (!(lu > 0.0) || !(lv > 0.0))
            return 1.0;
        worst = std::max(worst, dot(u, v) / (lu * lv));
    }
    return worst;
}
