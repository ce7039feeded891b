#pragma once

#include <cstdint>

// One output triangle: the places of its three corners in the node list,
// counter-clockwise about the mean of their normals. Positions and normals
// are read from the nodes whenever needed, so every reader sees the same
// values; a million-point surface has two million triangles, and holding
// their corners by value took more memory than all the rest of the mesh.
// By place, an exported mesh keeps coincident points apart instead of
// guessing by position.
struct CGTriangle {
    std::uint32_t source[3] = {0, 0, 0};
};

using Triangle = CGTriangle;
