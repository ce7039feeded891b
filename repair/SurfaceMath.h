#pragma once

#include "geometry/Surface.h"

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
