#pragma once

#include "mesh/Edge.h"
#include "mesh/ReconNode.h"

class Reconstruct;

// Fills out with the nodes near edge, from sphere queries on the
// triangulator's KD-tree; falls back to all nodes when the spheres hold only
// the edge's own ends. Leaves out empty when no tree has been built.
void gatherKdCandidates(const Reconstruct& triangulator, const Edge& edge, Nodes& out);
