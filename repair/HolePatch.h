#pragma once

#include "geometry/Surface.h"

#include <cstdint>
#include <vector>

class FaceBoxTree;

// What the patching did.
struct PatchCounts {
    std::uint64_t patched = 0;  // outlines closed
    std::uint64_t facesRemoved = 0;
    std::uint64_t facesAdded = 0;
    std::uint64_t pointsUsed = 0;            // points no face had used before
    std::vector<std::uint32_t> openCorners;  // the points of the outlines left open
};

// Closes outlines that every other closing left open (slits whose sides
// overlap, loops twisted against the faces around them) by rebuilding the
// faces around each one: the faces within a few rings of the outline go,
// and the disc they and the hole made is triangulated again over its own
// points and the unused points inside it, as a constrained Delaunay
// triangulation in the plane the point normals agree on. A patch is made
// only where that disc has one simple rim in the plane, its points face
// that plane, no edge of the new faces is taken elsewhere and no new face
// meets a face outside it; otherwise the outline stays open. Never moves
// or adds a point. The box tree must know the faces as they are, and
// follows them; faces keep their order, new ones go at the end. Up to
// threads outlines are worked out at once, the result the same for any
// count.
PatchCounts patchHoles(const Surface& surface, Faces& faces, FaceBoxTree& boxes,
                       const std::vector<std::vector<std::uint32_t>>& outlines, unsigned threads = 1);
