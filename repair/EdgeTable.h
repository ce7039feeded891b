#pragma once

#include "geometry/Surface.h"

#include <cstdint>
#include <utility>
#include <vector>

// Every edge of a face list, with the faces that use it. A half-edge is
// 3 * face + k and runs from the face's corner k to corner k + 1 (mod 3);
// an edge is an unordered pair of corners and holds the half-edges on it.
// Edges are numbered by their lower corner, then their higher one, and
// list their half-edges in face order, so the numbering depends on the
// face list alone.
//
// The repair's steps share one table and keep it up to date in place as
// they drop, turn and add faces: each change costs one pass over the table
// without any sorting, where a build sorts every point's edges again. A
// table kept so reads exactly as one built afresh from the faces.
class EdgeTable {
public:
    // Faces must name points below pointCount and hold fewer than 2^32 / 3.
    // A large table closes up after drops on up to threads threads; it
    // reads the same for every count.
    EdgeTable(const Faces& faces, std::size_t pointCount, unsigned threads = 1);

    // How many faces the table knows: those of the face list it was built
    // from or last brought up to date with.
    std::size_t faceCount() const { return faceCount_; }

    // Follows the face list after it kept only the faces marked in kept,
    // the rest closing up in order (one mark per face of the list, which
    // may have faces the table does not know yet at its end).
    void keepOnly(const std::vector<bool>& kept);

    // Reads again the faces listed in changed, whose corners changed in
    // place (listed once each, by their place now), and takes in the faces
    // appended after the ones it knows.
    void update(const Faces& faces, const std::vector<std::uint32_t>& changed = {});

    std::size_t edgeCount() const { return lower_.size(); }
    std::uint32_t lower(std::size_t edge) const { return lower_[edge]; }
    std::uint32_t higher(std::size_t edge) const { return higher_[edge]; }

    // How many half-edges lie on the edge, and the i-th of them.
    std::uint32_t uses(std::size_t edge) const { return start_[edge + 1] - start_[edge]; }
    std::uint32_t use(std::size_t edge, std::uint32_t i) const { return halfEdges_[start_[edge] + i]; }

    // Whether the i-th half-edge on the edge runs from its lower corner to
    // its higher one, and the corner of its face off the edge: what tells
    // folds, windings and duplicates apart without going back to the faces.
    bool runsUp(std::size_t edge, std::uint32_t i) const { return runsUp_[start_[edge] + i] != 0; }
    std::uint32_t across(std::size_t edge, std::uint32_t i) const { return across_[start_[edge] + i]; }

    // The edge a half-edge lies on.
    std::uint32_t edgeOf(std::uint32_t halfEdge) const { return edgeOf_[halfEdge]; }

    // For each face, whether an earlier face has the same three corners:
    // two such faces share every edge and the corner across it.
    std::vector<bool> repeatedFaces(std::size_t faceCount) const;

    // The edge joining a and b, or edgeCount() when no face uses one.
    std::size_t find(std::uint32_t a, std::uint32_t b) const;

    static std::uint32_t faceOf(std::uint32_t halfEdge) { return halfEdge / 3; }
    static std::uint32_t from(const Faces& faces, std::uint32_t halfEdge) { return faces[halfEdge / 3][halfEdge % 3]; }
    static std::uint32_t to(const Faces& faces, std::uint32_t halfEdge)
    {
        return faces[halfEdge / 3][(halfEdge % 3 + 1) % 3];
    }

private:
    // One half-edge as the table files it, for the entries a change brings.
    struct Entry {
        std::uint32_t lower;
        std::uint32_t higher;
        std::uint32_t halfEdge;
        std::uint32_t across;
        bool up;
    };

    // Ends the table at its first `edges` edges and `slots` half-edges,
    // as a compaction left them, and indexes the edges by point again.
    void closeUp(std::uint32_t edges, std::uint32_t slots);
    // byPoint_ and edgeOf_ again, from the edges
    void indexEdges();

    // Closes up the edges from `from` to `to`, whose half-edges run from
    // slot first to slot last, in place from their own first edge and
    // slot on; gives where the edges and the slots then end.
    std::pair<std::uint32_t, std::uint32_t> keepOnlyIn(std::size_t from, std::size_t to, std::uint32_t first,
                                                       std::uint32_t last, const std::uint32_t* rename);

    std::size_t faceCount_ = 0;
    unsigned threads_ = 1;
    std::vector<std::uint32_t> byPoint_;  // first edge whose lower corner is each point, and one past the last point
    std::vector<std::uint32_t> lower_;
    std::vector<std::uint32_t> higher_;
    std::vector<std::uint32_t> start_;  // first entry of each edge in halfEdges_, and the end
    std::vector<std::uint32_t> halfEdges_;
    std::vector<std::uint8_t> runsUp_;
    std::vector<std::uint32_t> across_;
    std::vector<std::uint32_t> edgeOf_;
};
