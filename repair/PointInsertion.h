#pragma once

#include "geometry/Surface.h"

#include <cstdint>
#include <vector>

class FaceBoxTree;

// Takes each point no face uses into the face it lies over: the face whose
// plane is nearest among those the point falls inside when seen along the
// face's normal, within half the face's longest side of it, facing the way
// the point's normal does. The face becomes three, one on each of its
// sides; where one of those would be a sliver, the side the point is
// nearest and the face beyond it split into two each. New faces keep to
// the corners' normals and meet no other face, or the point stays out.
// On a noisy scan these are the points the sheet passed by. Never moves a
// point; split faces keep their places and the rest go at the end. The
// box tree must know the faces as they are, and follows them. Returns how
// many points were taken in. Where changed is given, the places of the
// faces split in place are appended to it.
std::uint64_t insertLeftOutPoints(const Surface& surface, Faces& faces, FaceBoxTree& boxes,
                                  std::vector<std::uint32_t>* changed = nullptr);
