#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "kdtree/LeafBuckets.h"
#include "records/Edge.h"
#include "records/ReconNode.h"
#include "search/KdCandidates.h"

// True when v already has more than two open sides (one triangle each)
// that point into the half-space of direction n: adding another triangle
// at v would fold the surface over itself.
bool isCrowded(const ReconNode* v, const CGVector& n);

// The best third corner for a new triangle on the far side of edge, or
// null. The candidates are all nodes (useKd false) or those near the edge
// found through tree, the KD-tree over nodes. Reads the mesh; changes nothing.
// With buckets (the same tree's points in leaf order; null or empty: none),
// most searches pick from the first sphere without walking the tree, with
// the very result the walk gives. scratch holds lists kept between calls.
ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd, const LeafBuckets* buckets, SearchScratch& scratch);

// The same with lists of its own, for a single search.
ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd, const LeafBuckets* buckets = nullptr);
