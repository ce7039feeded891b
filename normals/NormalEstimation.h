#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Progress.h"

#include <cstddef>
#include <vector>

// The fewest and most neighbours an estimate looks at: a plane needs three
// points, and beyond a hundred the neighbourhood stops being local on any
// scan while memory grows with every one.
constexpr unsigned kFewestNeighbours = 3;
constexpr unsigned kMostNeighbours = 100;

// Unit normals for points that have none, one per position in the same
// order. Each is the direction in which its point's k nearest neighbours
// (the point itself among them; k = neighbours, at most all points) spread
// least. The normals are then oriented alike over each connected piece of
// the neighbour graph, along a minimum spanning tree with weights
// 1 - |ni . nj|, and each piece is turned outward: of its six extreme
// points, the one whose normal lies most nearly along its axis points away
// from the piece. The result is the same for every thread count; threads 0
// takes as many as the machine has. Where progress is given, the points
// whose neighbours have been found count there, out of all points; when
// it asks to stop, the result is all zero.
std::vector<CGVector> estimateNormals(const std::vector<CGVertex>& positions, unsigned neighbours, unsigned threads = 0,
                                      Progress* progress = nullptr);
