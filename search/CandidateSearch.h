#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "kdtree/LeafBuckets.h"
#include "records/Edge.h"
#include "records/ReconNode.h"
#include "search/KdCandidates.h"

#include <cstddef>

// True when v already has more than two open sides (one triangle each)
// that point into the half-space of direction n: adding another triangle
// at v would fold the surface over itself.
bool isCrowded(const ReconNode* v, const CGVector& n);

// What the sphere shortcut of findCandidate reads that no triangle changes,
// for one edge and outward direction: every point its walk may reach inside
// the sphere that passes the tests on positions alone, by score, then leaf
// place. Made ahead of the search, on another thread if need be.
struct SphereList {
    // Room for the points of a sphere in ordinary sampling, many times over.
    static constexpr std::size_t kMost = 48;
    struct Entry {
        ReconNode* node;
        double score;
    };
    // False: the list cannot settle the search (too many points, or the
    // shortcut would not be tried); the search runs as without one.
    bool usable = false;
    double floor = 0.0;  // the least score a point outside the sphere can have
    std::size_t count = 0;
    Entry entries[kMost];
};

// Fills list for the edge a -> b whose outward direction is n. Reads only
// what no run changes: positions and the shape of buckets.
void listInsideSphere(const LeafBuckets& buckets, const ReconNode* a, const ReconNode* b, const CGVector& n,
                      SphereList& list);

// The best third corner for a new triangle on the far side of edge, or
// null. The candidates are all nodes (useKd false) or those near the edge
// found through tree, the KD-tree over nodes. Reads the mesh; changes nothing.
// With buckets (the same tree's points in leaf order; null or empty: none),
// most searches pick from the first sphere without walking the tree, with
// the very result the walk gives. scratch holds lists kept between calls.
// list, when given, is listInsideSphere's for this edge and n over buckets;
// the result is the same with it or without.
ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd, const LeafBuckets* buckets, SearchScratch& scratch,
                         const SphereList* list = nullptr);

// The same with lists of its own, for a single search.
ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd, const LeafBuckets* buckets = nullptr);
