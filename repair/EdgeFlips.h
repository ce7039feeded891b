#pragma once

#include "geometry/Surface.h"

#include <cstdint>

class EdgeTable;
class FaceBoxTree;

// Turns the edge between two faces to the quad's other diagonal wherever
// that raises the smaller of the two faces' smallest angles, keeps the
// winding, keeps both new faces facing with the old ones and the point
// normals, bends the surface no more than before (or a little, on a flat
// part), and meets no other face. At most `passes` sweeps over the edges.
// Returns how many edges turned; faces keep their places in the list.
std::uint64_t flipSlivers(const Surface& surface, Faces& faces, int passes);
// The same with a box tree and an edge table that know the faces as they
// are, and follow them; with tableAfter false the table is left as the
// last sweep read it, for a caller that reads it no more. The tests on
// each edge's own two faces run on up to threads threads; the faces are
// the same for every count.
std::uint64_t flipSlivers(const Surface& surface, Faces& faces, FaceBoxTree& tree, EdgeTable& table, int passes,
                          bool tableAfter = true, unsigned threads = 1);
