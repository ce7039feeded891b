#pragma once

#include "geometry/CGVertex.h"
#include "mesh/Edge.h"

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

// One input point. It owns the directed edges that start at it.
class ReconNode {
public:
    ReconNode(const CGVertex& position, const CGVector& normal, std::size_t index);
    ~ReconNode();

    ReconNode(const ReconNode&) = delete;
    ReconNode& operator=(const ReconNode&) = delete;

    // A free node belongs to no triangle yet.
    bool isFree() const { return edges.empty(); }

    CGVertex position;
    CGVector normal;  // as read: never normalised or flipped
    Edges edges;      // owned, in order of creation
    // How many of edges carry fewer than two triangles; kept by newEdge and
    // registerEdge, so telling a closed node costs nothing however many
    // sides meet at it.
    std::size_t openEdgeCount = 0;
    std::size_t index;  // place in the owning node list; breaks ties between equal positions

    // On a real surface few sides meet at a node and scanning edges is
    // fastest. Heaps of coincident points can make one node the hub of
    // thousands; past a threshold such a node also keeps a table from end
    // node to place in edges, so lookups at it stay constant-time. Kept by
    // newEdge.
    std::unique_ptr<std::unordered_map<const ReconNode*, std::size_t>> edgeIndex;

    // No node of the owner's list before this place can ever be the third
    // corner of a seed triangle with this node as partner: each is this
    // node, closed, or joined to it by a full side, and all three stay so.
    std::size_t seedSkip = 0;
};

using Nodes = std::vector<ReconNode*>;
