#pragma once

#include "geometry/Surface.h"

#include <vector>

// Whether two faces of a surface meet anywhere beyond the corners and the
// edge they share, decided with exact predicates. Corners are matched by
// index; a face with no area meets nothing.
bool facesIntersect(const std::vector<CGVertex>& positions, const Face& f, const Face& g);

// Whether the closed segment p-q meets the closed triangle a, b, c.
bool segmentMeetsTriangle(const CGVertex& p, const CGVertex& q, const CGVertex& a, const CGVertex& b,
                          const CGVertex& c);
