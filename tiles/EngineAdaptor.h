#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Surface.h"

#include <array>
#include <cstdint>
#include <vector>

class Progress;

// One side of a face, from its first place to its second.
using Side = std::array<std::uint32_t, 2>;
using Sides = std::vector<Side>;

// The engine as the tiles use it: arrays in, faces out, each call with an
// engine of its own, so that calls on different threads never meet.
// Faces index the arrays given. Each engine builds its search's tree on up
// to threads threads (0: as the machine has cores), the same tree on any
// number.

// The surface the single front grows over the points. The arrays are
// taken, and given back as soon as the engine holds the points.
Faces triangulatePoints(std::vector<CGVertex> positions, std::vector<CGVector> normals, bool useKd,
                        unsigned threads = 0);

// The same surface, for a caller that needs the points again afterwards:
// the arrays are emptied while the engine holds the points, and filled
// again, as given, once its search is gone, so the two never take memory
// at once. Where progress is given, the engine reports there and stops
// early, with the faces made so far, when it says stop. Where mendable is
// given (a flag a point), the holes the front left among mendable points
// are then shrunk, round after round, by faces the engine's own rules and
// search find along each hole's rim, wound as their neighbours are: no
// longer the single front's surface there. handBack false leaves the
// arrays empty, for a caller that has the points elsewhere.
Faces triangulateLent(std::vector<CGVertex>& positions, std::vector<CGVector>& normals, bool useKd,
                      Progress* progress = nullptr, const std::vector<bool>& mendable = {}, unsigned threads = 0,
                      bool handBack = true);

// Grows on from a surface already made: given lays down faces as the engine
// records them; the sides in push that carry one face go on the front, in
// that order, and are advanced by the engine's own driver and candidate
// search; then free points seed new patches as in a whole run. A new face
// never takes a third corner at a point that usable (when not empty) marks
// false. Returns only the new faces.
Faces growFrom(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals, const Faces& given,
               const Sides& push, bool useKd, const std::vector<bool>& usable = {}, unsigned threads = 0);
