#pragma once

#include "geometry/Surface.h"

#include <cstdint>

class EdgeTable;

// Grows a surface that is a manifold wound one way out of the faces, and
// drops the rest. Faces join in order of how well they fit the point
// normals, each across an edge of the grown part, turned to run that edge
// against the face already there. A face stays out while it would give an
// edge a third face, cover an angle around a corner that a kept face
// covers (a fold-over, whether or not the two share an edge), or touch the
// grown part at a corner alone, which would pinch the surface there. When
// no face can join, the best face on three untouched points starts a new
// part. Each part is then wound the way most of its area agrees with the
// point normals. Returns how many faces went; flipped counts the faces
// whose winding changed. The table follows the faces. Each face's fit
// and angles are worked out ahead on up to threads threads; the faces are
// the same for every count.
std::uint64_t growManifold(const Surface& surface, Faces& faces, EdgeTable& table, std::uint64_t& flipped,
                           unsigned threads = 1);
