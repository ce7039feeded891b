#pragma once

#include "geometry/Surface.h"

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

class EdgeTable;
class FaceBoxTree;

// What the hole filling did.
struct HoleCounts {
    std::uint64_t removedFlaps = 0;  // faces in a short outline by two edges, dropped before closing
    std::uint64_t filled = 0;
    std::uint64_t facesAdded = 0;
    // short enough to fill, but every closing tried needs a taken edge, folds back or meets a face
    std::uint64_t leftOpen = 0;
    std::vector<std::vector<std::uint32_t>> openOutlines;  // the points of each hole left open
};

// Drops the flaps that hang into short holes, then closes every hole loop of at most maxHoleEdges edges with triangles
// over the loop's own points, appended to the faces: the closing that bends least against its neighbours, then covers
// least area, among those that give no edge a third face, fold back onto no face beside the hole and meet no face
// anywhere.
// With foldsAllowed, a closing may bend back onto a face beside the hole:
// the last resort for a hole that would stay open otherwise. The box tree
// must know the faces as they are, and follows them. Given the edges open in
// the surface as made (by edgeKey), a longer outline with fewer than half its
// edges among them is closed too: the repair opened that hole, not the samples.
HoleCounts fillHoles(const std::vector<CGVertex>& positions, Faces& faces, FaceBoxTree& boxes, std::size_t maxHoleEdges,
                     bool foldsAllowed = false, const std::unordered_set<std::uint64_t>* openAsMade = nullptr);
// The same reading the edges from a table that knows the faces as they are;
// the table follows the faces dropped, not the faces added. Up to threads
// loops are worked out at once, the result the same for any count.
HoleCounts fillHoles(const std::vector<CGVertex>& positions, Faces& faces, FaceBoxTree& boxes, EdgeTable& table,
                     std::size_t maxHoleEdges, bool foldsAllowed, const std::unordered_set<std::uint64_t>* openAsMade,
                     unsigned threads = 1);

// Drops every closed piece (no open edge) of less than a hundredth of the
// largest piece's faces: a closing over an island's outline in a hole caps
// it from behind into such a scrap, apart from the sheet. Pieces with an
// outline stay, being surface the samples gave, and so does everything
// when no piece holds nine tenths of the faces. The box tree must know
// the faces as they are, and follows them. Returns how many faces went.
std::uint64_t removeClosedScraps(Faces& faces, std::size_t pointCount, FaceBoxTree& boxes);
// The same with an edge table that knows the faces as they are, and
// follows them.
std::uint64_t removeClosedScraps(Faces& faces, EdgeTable& table, FaceBoxTree& boxes);
