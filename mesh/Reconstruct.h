#pragma once

#include "geometry/CGTriangle.h"
#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "geometry/Surface.h"
#include "records/Arena.h"
#include "records/Edge.h"
#include "records/EdgeStore.h"
#include "records/ReconNode.h"

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

using Triangles = std::vector<Triangle>;

class CandidateIndex;

// The engine: owns the points (and through them every edge), the triangles,
// the open-edge front and the candidate search over the points. It takes
// arrays and gives arrays; who reads or writes files is not its business.
// Points and edges live in the engine's own storage: a million-point
// surface is seven million small records, and they go all at once.
class Reconstruct {
public:
    Reconstruct();
    ~Reconstruct();

    Reconstruct(const Reconstruct&) = delete;
    Reconstruct& operator=(const Reconstruct&) = delete;

    // Appends a new point at the end of nodes and returns it; nodes owns it.
    ReconNode* addNode(const CGVertex& position, const CGVector& normal);

    // Deletes every node with its edges, empties nodes and drops the tree
    // built over them. Leaves triangles and front alone; front must not be
    // used until the next run.
    void clearNodes();

    // Drops the candidate search of the last run (its tree and buckets),
    // which only that run's searches read, so that what reads the result
    // has their memory.
    void releaseIndex();

    // Replaces nodes by one node per point, positions[i] with normals[i],
    // in the order given; the arrays must be of one length, at most what a
    // node index can count.
    void setPoints(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals);

    // Appends a new edge a -> b with no triangles to a's list; a owns it.
    Edge* newEdge(ReconNode* a, ReconNode* b);

    // Counts one more triangle on a -> b: creates the edge with count 1, or
    // sets an existing one to 2 (a side never counts more than two).
    Edge* registerEdge(ReconNode* a, ReconNode* b);

    // Grows the surface over all nodes; useKd picks the KD-tree candidate
    // search over the linear one, chosen once for the whole run. True when
    // it has run to its end; false when progress asked it to stop, with
    // the triangles made until then.
    bool triangulate(bool useKd);

    // The candidate search the last run chose, kept until releaseIndex or
    // the next run; null before any run.
    const CandidateIndex* index() const { return index_.get(); }
    CandidateIndex* index() { return index_.get(); }

    // Records a seed triangle around the first free node and puts its sides
    // on the front. False, with nothing changed, when there is none.
    bool findSeed();

    // Removes and returns the newest front edge, or null when front is empty.
    Edge* popFront();

    // The apex of the triangle already on e, or null. Sets closing to a node
    // that closes a second triangle on e through existing sides, if any.
    ReconNode* findApex(const Edge* e, ReconNode*& closing) const;

    // Unit vector across the edge a-b, in the plane of the triangle on it,
    // pointing away from apex; zero when it cannot be normalised.
    static Vector outwardDirection(CGVertex a, CGVertex b, const ReconNode* apex);

    // True when addTriangle records a, b, c as a, c, b: counter-clockwise
    // seen from where the corners' mean normal points.
    static bool windsBackwards(const ReconNode* a, const ReconNode* b, const ReconNode* c);

    // Records the triangle a, b, c: counts its six directed sides, pushes
    // a->c then b->c onto the front, and appends it oriented by its normals.
    void addTriangle(ReconNode* a, ReconNode* b, ReconNode* c);

    // The points and triangles as plain arrays, for whatever reads the
    // result: every point in file order, every triangle by its corners'
    // places, in the order made.
    Surface surface() const;

    // False: every candidate search walks the tree, as the shortcut must
    // never change a result; for checking exactly that.
    bool sphereShortcut = true;
    // The most threads a run's tree is built on (0: as the machine has
    // cores); the tree is the same on any number.
    unsigned treeThreads = 0;
    Nodes nodes;  // owned, in file order
    Triangles triangles;
    Edges front;  // not owned
    // Where triangulating reports how far it has got and hears whether to
    // stop; null when nobody asks. Not owned.
    Progress* progress = nullptr;

private:
    ReconNode* makeNode(const CGVertex& position, const CGVector& normal, std::size_t index);

    Arena nodeStore_;
    EdgeStore edgeStore_;
    std::unique_ptr<CandidateIndex> index_;

    // In a run with the KD-tree the seed search looks near the seed first,
    // from boxes of this half-width up; other calls scan every node.
    CandidateIndex* seedIndex_ = nullptr;  // not owned; the run's index while it runs
    double seedReach_ = 0.0;

    // No node before this one is free. Nodes never become free again while
    // they exist, so the seed search need not look at them twice.
    std::size_t firstFreeHint_ = 0;

    // For a node that has been a seed's partner: no node of nodes before
    // this place can ever be the third corner of a seed triangle with it.
    // Each is the partner itself, closed, or joined to it by a full side,
    // and all three stay so.
    std::unordered_map<const ReconNode*, std::size_t> seedSkip_;
};
