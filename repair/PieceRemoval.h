#pragma once

#include "geometry/Surface.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class FaceBoxTree;

// Where a point is a corner of faces that only meet there (two fans
// touching at a point), keeps the fan with the most faces and drops the
// others: the holes they leave are closed later without the pinch. Dropping
// faces can split a fan elsewhere, so this repeats until no point has two.
// Returns how many faces went.
// A box tree given follows the faces that go.
std::uint64_t removePinches(Faces& faces, std::size_t pointCount, FaceBoxTree* boxes = nullptr);

// Drops every component of less than a hundredth of the largest one's
// faces: such a shred lies in a gap of a larger part, where the hole
// filling would otherwise cover it over. Returns how many faces went.
std::uint64_t removeShreds(Faces& faces, std::size_t pointCount);

// Drops every face with a corner among the points; returns how many went.
std::uint64_t removeFacesAt(Faces& faces, const std::vector<std::uint32_t>& points, std::size_t pointCount,
                            FaceBoxTree* boxes = nullptr);
