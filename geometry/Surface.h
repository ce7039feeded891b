#pragma once

#include "geometry/CGVertex.h"

#include <array>
#include <cstdint>
#include <vector>

// Three corners, each the place of a point in the surface's point arrays.
using Face = std::array<std::uint32_t, 3>;
using Faces = std::vector<Face>;

// A finished surface as plain arrays: what the writers, the viewer, the
// report and the repair read, so none of them needs the engine that grew it.
struct Surface {
    std::vector<CGVertex> positions;  // every input point, in file order
    std::vector<CGVector> normals;    // one per point, as read or estimated
    Faces faces;  // in the order made; each counter-clockwise about the mean of its corners' normals
};
