#pragma once

#include "mesh/Edge.h"
#include "mesh/ReconNode.h"

class Reconstruct;

// Fills out with the nodes near edge, from sphere queries on the
// triangulator's KD-tree; falls back to all nodes when the spheres hold only
// the edge's own ends. Leaves out empty when no tree has been built.
void gatherKdCandidates(const Reconstruct& triangulator, const Edge& edge, Nodes& out);

// The sphere queries of gatherKdCandidates alone. True when both spheres
// held only the edge's own ends, so that every node is a candidate; out is
// then left as the second query made it.
bool gatherNearCandidates(const Reconstruct& triangulator, const Edge& edge, Nodes& out);

// Appends to out, in the tree's leaf order, exactly the nodes whose
// positions lie in the closed box [low, high]. The tree must be built.
void gatherBoxCandidates(const Reconstruct& triangulator, const CGVertex& low, const CGVertex& high, Nodes& out);
