#pragma once

#include "geometry/CGTriangle.h"
#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "mesh/Edge.h"
#include "mesh/ReconNode.h"

#include <string>
#include <vector>

using Triangles = std::vector<Triangle>;

// The engine: owns the points (and through them every edge), the triangles,
// the open-edge front and the spatial index over the points.
class Reconstruct {
public:
    Reconstruct() = default;
    ~Reconstruct();

    Reconstruct(const Reconstruct&) = delete;
    Reconstruct& operator=(const Reconstruct&) = delete;

    // Appends a new point at the end of nodes and returns it; nodes owns it.
    ReconNode* addNode(const CGVertex& position, const CGVector& normal);

    // Deletes every node with its edges and empties nodes. Leaves triangles,
    // front and the tree alone; front must not be used until the next run.
    void clearNodes();

    // Replaces nodes by the points of a point file. False when the file
    // cannot be opened or read to its end; nothing is kept from it then.
    bool loadNodes(const std::string& fileName);

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

    KDTree<double> kdTree;
    Nodes nodes;  // owned, in file order
    Triangles triangles;
    Edges front;  // not owned

private:
    // No node before this one is free. Nodes never become free again while
    // they exist, so the seed search need not look at them twice.
    std::size_t firstFreeHint_ = 0;
};
