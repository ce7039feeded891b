#pragma once

#include "geometry/CGVertex.h"

// Signs of determinants over the points' exact double values: a quick
// floating-point answer where its error bound proves the sign, an exact
// expansion sum otherwise, so the answer never depends on rounding.

// +1 when d lies below the plane through a, b, c (a, b, c counter-clockwise
// seen from above), -1 above, 0 on it.
int orient3d(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d);

// The sign of the 2D orientation of a, b, c with axis `drop` (0, 1, 2) left
// out: +1 counter-clockwise, -1 clockwise, 0 on one line.
int orient2d(const CGVertex& a, const CGVertex& b, const CGVertex& c, int drop);
