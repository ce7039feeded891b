#pragma once

#include "geometry/Surface.h"

#include <cstdint>
#include <utility>
#include <vector>

class EdgeTable;
class FaceBoxTree;

// Every pair of faces (lower index first) that meet beyond the corners and
// the edge they share, found through a box tree and decided exactly.
std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces);
// The same through a box tree that knows the faces as they are, on up to
// threads threads; the pairs are the same for every count.
std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces, const FaceBoxTree& boxes,
                                                                       unsigned threads = 1);

// Drops faces until no two of the rest meet: of each meeting pair, the face
// that meets more others goes, and on a tie the one that fits the point
// normals worse, so a fold's stray layer goes before the sheet it crosses.
// Returns how many faces went; the rest keep their order.
// The box tree, and a table given, follow the faces that go. The search
// runs on up to threads threads and finds the same for every count.
// Where corners is given, the corners of the faces that went are appended.
std::uint64_t removeIntersections(const Surface& surface, Faces& faces, FaceBoxTree& boxes, EdgeTable* table = nullptr,
                                  unsigned threads = 1, std::vector<std::uint32_t>* corners = nullptr);
