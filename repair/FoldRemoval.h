#pragma once

#include "geometry/Surface.h"

#include <cstdint>

class EdgeTable;

// Drops faces with the same corners as an earlier face, and faces that
// name a point twice; returns how many went. The table follows the faces.
std::uint64_t removeDuplicates(Faces& faces, EdgeTable& table);

// Whether every edge has at most two faces, run opposite ways.
bool windsOneWay(const EdgeTable& table);

// Drops the worse face of each fold (two faces that run an edge the same
// way and lie on the same side of it) and every face beyond the best one
// per direction on an edge of more than two; returns how many went.
// The table follows the faces.
std::uint64_t removeFoldOvers(const Surface& surface, Faces& faces, EdgeTable& table);
