#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "records/Edge.h"
#include "records/ReconNode.h"

#include <cstddef>

// Fills out with the nodes near edge, from sphere queries on tree, the
// KD-tree over nodes; falls back to all nodes when the spheres hold only the
// edge's own ends. Leaves out empty when no tree has been built.
void gatherKdCandidates(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, Nodes& out);

// The sphere queries of gatherKdCandidates alone. True when both spheres
// held only the edge's own ends, so that every node is a candidate; out is
// then left as the second query made it.
bool gatherNearCandidates(const KDTree<double>& tree, const Edge& edge, Nodes& out);

// Appends to out, in tree's leaf order, exactly the nodes whose positions
// lie in the closed box [low, high]. The tree must be built.
void gatherBoxCandidates(const KDTree<double>& tree, const CGVertex& low, const CGVertex& high, Nodes& out);

// The lowest score, as the candidate scan works it out in doubles, that a
// point can have when it lies outside the sphere query of radius around
// middle, where middle is the rounded midpoint of an edge whose squared
// length came out as squaredEdge. Zero when no useful bound is known (the
// numbers too small or too large for the rounding bounds to hold).
double outsideScoreFloor(const CGVertex& middle, double radius, double squaredEdge);

// Candidate lists are kept from one search to the next, but not once they
// have held a large part of a large model.
constexpr std::size_t kKeptCandidates = std::size_t{1} << 16;

// The lists a run's searches fill and empty again millions of times: kept
// by the caller from one search to the next, as growing fresh ones for each
// costs more than the scan. What they hold between calls is never read.
struct SearchScratch {
    Nodes candidates;
    Nodes inBox;
};

// The nodes in the closed box of half-width half around centre, in file
// order. False, with out unspecified, when the box is of no use for
// scanNearestFirst: so small against the coordinates that rounding could
// matter, so large that squares of distances could overflow, or holding
// every node. The tree must be built.
bool gatherBoxInFileOrder(const Nodes& nodes, const KDTree<double>& tree, const CGVertex& centre, double half,
                          Nodes& out);

// Scans nodes in file order from place first on with scan and returns its
// best, stopping early once scan is done.
template <typename Scan>
ReconNode* scanInFileOrder(const Nodes& nodes, std::size_t first, Scan& scan)
{
    for (std::size_t i = first; i < nodes.size() && !scan.done(); ++i)
        scan.consider(nodes[i]);
    return scan.best();
}

// What scanInFileOrder over all of nodes from place first returns, found
// through tree without looking at most of them. Scan keeps the node
// of strictly smallest value, and no node's value is below its squared
// distance from centre. Boxes around centre, from half-width half and
// growing twice over, are scanned in file order: a node outside a box lies
// farther than half the box's half-width from centre even after rounding,
// so when the box's best is worth no more than the square of that, no node
// outside could beat it or tie with it. Scan must ignore nodes before
// first itself.
template <typename Scan>
ReconNode* scanNearestFirst(const Nodes& nodes, const KDTree<double>& tree, const CGVertex& centre, double half,
                            std::size_t first, const Scan& fresh, SearchScratch& scratch)
{
    Nodes& inBox = scratch.inBox;
    ReconNode* found = nullptr;
    for (; gatherBoxInFileOrder(nodes, tree, centre, half, inBox); half *= 2.0) {
        Scan scan = fresh;
        for (ReconNode* node : inBox)
            scan.consider(node);
        if (scan.best() != nullptr && scan.bestValue() <= (half * 0.5) * (half * 0.5) * (1.0 - 1e-9)) {
            found = scan.best();
            break;
        }
    }
    if (inBox.capacity() > kKeptCandidates)
        Nodes().swap(inBox);
    if (found != nullptr)
        return found;
    Scan scan = fresh;
    return scanInFileOrder(nodes, first, scan);
}
