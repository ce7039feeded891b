#pragma once

#include "geometry/CGVertex.h"

#include <cstdint>
#include <utility>

// One output triangle, held by value. The corners run counter-clockwise
// about the mean of their normals. `source` remembers which input point
// each corner was copied from, so an exported mesh keeps coincident
// points apart instead of guessing by position.
struct CGTriangle {
    using Corner = std::pair<CGVertex, CGVector>;

    Corner corners[3];
    std::uint32_t source[3] = {0, 0, 0};
};

using Triangle = CGTriangle;
