#pragma once

#include <cstdint>

struct Surface;

// What a surface's face list holds, as a user checking it would count it.
// An edge is an unordered pair of corners used by a face.
struct SurfaceReport {
    std::uint64_t faces = 0;
    std::uint64_t verticesUsed = 0;  // points that are a corner of some face
    std::uint64_t edges = 0;
    std::uint64_t boundaryEdges = 0;       // used by one face
    std::uint64_t boundaryLoops = 0;       // connected pieces of the graph of boundary edges
    std::uint64_t nonManifoldEdges = 0;    // used by more than two faces
    std::uint64_t inconsistentEdges = 0;   // used by two faces that run it the same way
    std::uint64_t duplicateFaces = 0;      // the same three corners as an earlier face, in any order
    std::uint64_t zeroAreaFaces = 0;       // cross product exactly zero
    std::uint64_t components = 0;          // faces joined through shared edges
    std::int64_t eulerCharacteristic = 0;  // vertices used - edges + faces
    double area = 0.0;                     // summed in face order
};

// Counts over the faces as they stand; the surface is only read.
SurfaceReport reportOn(const Surface& surface);
