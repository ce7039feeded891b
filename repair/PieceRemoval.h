#pragma once

#include "geometry/Surface.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class EdgeTable;
class FaceBoxTree;

// Where a point is a corner of faces that only meet there (two fans
// touching at a point), keeps the fan with the most faces and drops the
// others: the holes they leave are closed later without the pinch. Dropping
// faces can split a fan elsewhere, so this repeats until no point has two.
// Returns how many faces went.
// The table must know the faces as they are; it and a box tree given
// follow the faces that go. Where the caller knows every pinch lies at
// one of some points (the corners of faces taken from a surface that had
// none), it gives them as seeds, and only those are looked at first.
std::uint64_t removePinches(Faces& faces, std::size_t pointCount, EdgeTable& table, FaceBoxTree* boxes = nullptr,
                            const std::vector<std::uint32_t>* seeds = nullptr);

// Drops every component of less than a hundredth of the largest one's
// faces: such a shred lies in a gap of a larger part, where the hole
// filling would otherwise cover it over. Returns how many faces went.
// The table must know the faces as they are, and follows them.
std::uint64_t removeShreds(Faces& faces, EdgeTable& table);

// Drops every face with a corner among the points; returns how many went.
// A table or a box tree given follows the faces that go.
std::uint64_t removeFacesAt(Faces& faces, const std::vector<std::uint32_t>& points, std::size_t pointCount,
                            FaceBoxTree* boxes = nullptr, EdgeTable* table = nullptr);
