#pragma once

#include "geometry/Surface.h"

#include <cstdint>

class FaceBoxTree;

// Takes each point no face uses into the face it lies over: the face whose
// plane is nearest among those the point falls inside when seen along the
// face's normal, within half the face's longest side of it, facing the way
// the point's normal does. The face becomes three, one on each of its
// sides, where those three keep to the corners' normals, are no slivers
// and meet no other face. On a noisy scan these are the points the sheet
// passed by. Never moves a point; the face keeps its place and the two
// new ones go at the end. The box tree must know the faces as they are,
// and follows them. Returns how many points were taken in.
std::uint64_t insertLeftOutPoints(const Surface& surface, Faces& faces, FaceBoxTree& boxes);
