#pragma once

#include "geometry/CGVertex.h"
#include "mesh/Edge.h"

#include <cstddef>
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
    std::size_t index;  // place in the owning node list; breaks ties between equal positions
};

using Nodes = std::vector<ReconNode*>;
