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
    std::uint64_t holesLeftOpen =
        0;  // short enough to fill, but every closing needs a taken edge, folds back or meets a face
    std::uint64_t removedIntersecting = 0;  // crossed another face beyond a shared edge or corner
    std::uint64_t refilledPoints = 0;       // points no face used that faces in a hole now use
    std::uint64_t turnedEdges = 0;          // flipped to the quad's other diagonal, away from a sliver
};

// Repairs the face list in place over the surface's own points, which it
// never moves or adds to: drops duplicates, folds and faces that cross
// others, rebuilds a one-way manifold where edges are run the same way,
// closes holes of at most maxHoleEdges edges (never more than 1,000) with
// faces that meet nothing, then turns edges away from slivers. Surviving
// faces keep their order; new ones go at the end, though a turned edge
// changes two faces in place. A surface with none of these faults comes
// back unchanged. Where progress is given, each of the repair's five steps
// counts there as it ends. Its threaded steps run on up to threads
// threads; the faces are the same for every count.
RepairCounts repairSurface(Surface& surface, std::size_t maxHoleEdges, Progress* progress = nullptr,
                           unsigned threads = 1);
