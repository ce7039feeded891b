#pragma once

#include "geometry/Surface.h"

#include <cstdint>

class EdgeTable;
class FaceBoxTree;

// What the refill did.
struct RefillCounts {
    std::uint64_t facesAdded = 0;
    std::uint64_t pointsUsed = 0;  // points no face had used before
};

// Grows the surface inward from every hole's outline over the points that
// lie in the hole, as a front: each new face sits on an edge of the
// outline and takes either a point no face uses yet or the outline's next
// point. Of the faces that keep every edge at two faces and every point a
// single fan, keep the winding, face the way the face beside them and the
// point normals do, span no more than a few times the surface's usual edge
// and meet no face, it takes the one whose circle the points reach first
// (as a Delaunay triangulation would). Appends faces; never moves a point.
// The box tree must know the faces as they are; it learns the new ones.
RefillCounts refillHoles(const Surface& surface, Faces& faces, FaceBoxTree& boxes);
// The same reading the edges from a table that knows the faces as they are;
// the table does not learn the new faces.
RefillCounts refillHoles(const Surface& surface, Faces& faces, FaceBoxTree& boxes, const EdgeTable& table);
