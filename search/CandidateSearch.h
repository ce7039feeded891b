#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "records/Edge.h"
#include "records/ReconNode.h"

// True when v already has more than two open sides (one triangle each)
// that point into the half-space of direction n: adding another triangle
// at v would fold the surface over itself.
bool isCrowded(const ReconNode* v, const CGVector& n);

// The best third corner for a new triangle on the far side of edge, or
// null. The candidates are all nodes (useKd false) or those near the edge
// found through tree, the KD-tree over nodes. Reads the mesh; changes nothing.
ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd);
