#pragma once

#include "geometry/CGVertex.h"

#include <cmath>

// Signs of determinants over the points' exact double values: a quick
// floating-point answer where its error bound proves the sign, an exact
// expansion sum otherwise, so the answer never depends on rounding.

// The sign of orient3d where the quick answer cannot prove it.
int orient3dSlow(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d);

// +1 when d lies below the plane through a, b, c (a, b, c counter-clockwise
// seen from above), -1 above, 0 on it. The quick answer is inline: the
// crossing tests ask it millions of times, nearly always settling there.
inline int orient3d(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d)
{
    constexpr double kEpsilon = 1.1102230246251565e-16;  // half an ulp of 1
    constexpr double kBound = (7.0 + 56.0 * kEpsilon) * kEpsilon;
    const double adx = a.x - d.x, bdx = b.x - d.x, cdx = c.x - d.x;
    const double ady = a.y - d.y, bdy = b.y - d.y, cdy = c.y - d.y;
    const double adz = a.z - d.z, bdz = b.z - d.z, cdz = c.z - d.z;
    const double bdxcdy = bdx * cdy, cdxbdy = cdx * bdy;
    const double cdxady = cdx * ady, adxcdy = adx * cdy;
    const double adxbdy = adx * bdy, bdxady = bdx * ady;
    const double det = adz * (bdxcdy - cdxbdy) + bdz * (cdxady - adxcdy) + cdz * (adxbdy - bdxady);
    const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * std::fabs(adz) +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * std::fabs(bdz) +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * std::fabs(cdz);
    const double bound = kBound * permanent;
    // The exact sign's convention: positive when d is below the plane.
    if (det > bound)
        return 1;
    if (-det > bound)
        return -1;
    return orient3dSlow(a, b, c, d);
}

// The sign of the 2D orientation of a, b, c with axis `drop` (0, 1, 2) left
// out: +1 counter-clockwise, -1 clockwise, 0 on one line.
int orient2d(const CGVertex& a, const CGVertex& b, const CGVertex& c, int drop);
