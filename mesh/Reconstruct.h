#pragma once

#include "geometry/CGTriangle.h"
#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "geometry/Surface.h"
#include "io/PointReadReport.h"
#include "kdtree/KDTree.h"
#include "kdtree/LeafBuckets.h"
#include "records/Arena.h"
#include "records/Edge.h"
#include "records/EdgeStore.h"
#include "records/ReconNode.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

using Triangles = std::vector<Triangle>;

// Where the points' normals come from.
enum class NormalSource {
    file,       // as the file gives them: zero where it gives none, x y z lines skipped
    automatic,  // the file's; estimated when it has none or every one is zero
    estimate,   // always estimated
};

struct LoadOptions {
    NormalSource normals = NormalSource::file;
    unsigned neighbours = 16;  // how many neighbours an estimate looks at
};

// What loading found beyond the points themselves.
struct LoadReport {
    PointReadReport read;         // layout, skipped lines, why a file was refused
    bool allNormalsZero = false;  // the file gave normals, and every one was zero
    std::size_t estimated = 0;    // points whose normals were estimated
    double estimateMilliseconds = 0.0;
};

// The engine: owns the points (and through them every edge), the triangles,
// the open-edge front and the spatial index over the points. Points and
// edges live in the engine's own storage: a million-point surface is seven
// million small records, and they go all at once.
class Reconstruct {
public:
    Reconstruct() = default;
    ~Reconstruct();

    Reconstruct(const Reconstruct&) = delete;
    Reconstruct& operator=(const Reconstruct&) = delete;

    // Appends a new point at the end of nodes and returns it; nodes owns it.
    ReconNode* addNode(const CGVertex& position, const CGVector& normal);

    // Deletes every node with its edges, empties nodes and drops the tree
    // built over them. Leaves triangles and front alone; front must not be
    // used until the next run.
    void clearNodes();

    // Drops the tree and its leaf copy, which only the searches of a run
    // read, so that what reads the result has their memory; the next KD
    // run builds them again.
    void releaseIndex();

    // Replaces nodes by the points of a point file. False when the file
    // cannot be opened or read to its end, or holds more points than a node
    // index can count; nothing is kept from it then.
    bool loadNodes(const std::string& fileName);

    // The same for every layout a point file can have (text, x y z, PLY),
    // with the normals from where options say. report tells what was
    // skipped, whether normals were estimated, and why a file was refused.
    bool loadNodes(const std::string& fileName, const LoadOptions& options, LoadReport& report);

    // Appends a new edge a -> b with no triangles to a's list; a owns it.
    Edge* newEdge(ReconNode* a, ReconNode* b);

    // Counts one more triangle on a -> b: creates the edge with count 1, or
    // sets an existing one to 2 (a side never counts more than two).
    Edge* registerEdge(ReconNode* a, ReconNode* b);

    // Grows the surface over all nodes; useKd picks the KD-tree candidate
    // search over the linear one. Always completes and returns true.
    bool triangulate(bool useKd);

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

    // Records the triangle a, b, c: counts its six directed sides, pushes
    // a->c then b->c onto the front, and appends it oriented by its normals.
    void addTriangle(ReconNode* a, ReconNode* b, ReconNode* c);

    // The points and triangles as plain arrays, for whatever reads the
    // result: every point in file order, every triangle by its corners'
    // places, in the order made.
    Surface surface() const;

    KDTree<double> kdTree;
    // The tree's points in leaf order, for the candidate search's shortcut.
    LeafBuckets leafBuckets;
    // False: every candidate search walks the tree, as the shortcut must
    // never change a result; for checking exactly that.
    bool sphereShortcut = true;
    Nodes nodes;  // owned, in file order
    Triangles triangles;
    Edges front;  // not owned
    // Where loading and triangulating report how far they have got; null
    // when nobody asks. Not owned.
    Progress* progress = nullptr;

private:
    ReconNode* makeNode(const CGVertex& position, const CGVector& normal, std::size_t index);

    Arena nodeStore_;
    EdgeStore edgeStore_;

    // In a run with the KD-tree the seed search looks near the seed first,
    // from boxes of this half-width up; other calls scan every node.
    bool seedsNearby_ = false;
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
