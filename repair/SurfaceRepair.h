#pragma once

#include <cstddef>
#include <cstdint>

class Progress;
struct Surface;

// What a repair did, for the report.
struct RepairCounts {
    std::uint64_t removedDuplicates = 0;  // same corners as an earlier face, or a corner named twice
    std::uint64_t removedFoldOvers = 0;   // lay over a neighbour, or a third face on an edge
    std::uint64_t removedPieces = 0;  // shreds far smaller than the main part, and fans that only touch it at a point
    std::uint64_t flippedFaces = 0;
    std::uint64_t filledHoles = 0;
    std::uint64_t facesAdded = 0;
    std::uint64_t holesLeftOpen = 0;  // short enough to fill, but every closing needs a taken edge or folds back
};

// Repairs the face list in place over the surface's own points, which it
// never moves or adds to. Drops duplicate faces and the worse face of every
// fold; where faces overlap or run an edge the same way, grows a one-way
// manifold from the faces that fit the point normals best, each part wound
// the way most of its area agrees with them, and drops the rest, pinched
// fans and shreds; closes every hole of at most maxHoleEdges edges (never
// more than 1,000) that can be closed without an edge of more than two
// faces, a duplicate or a face folded back onto one beside the hole.
// Surviving faces keep their order; new ones go at the end. A surface with
// none of these faults comes back unchanged. Where progress is given, each
// of the repair's four steps counts there as it ends.
RepairCounts repairSurface(Surface& surface, std::size_t maxHoleEdges, Progress* progress = nullptr);
