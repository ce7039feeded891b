#pragma once

#include "geometry/CGVertex.h"
#include "records/EdgeList.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One input point. The directed edges that start at it are its own: they
// live and die with the engine's storage, which also holds the node.
class ReconNode {
public:
    ReconNode(const CGVertex& position, const CGVector& normal, std::size_t index);

    ReconNode(const ReconNode&) = delete;
    ReconNode& operator=(const ReconNode&) = delete;

    // A free node belongs to no triangle yet.
    bool isFree() const { return edges.empty(); }

    CGVertex position;
    CGVector normal;  // as read: never normalised or flipped
    EdgeList edges;   // in order of creation
    // How many of edges carry fewer than two triangles; kept by the edge
    // bookkeeping, so telling a closed node costs nothing however many
    // sides meet at it.
    std::uint32_t openEdgeCount = 0;
    std::uint32_t index;  // place in the owning node list; breaks ties between equal positions
};

using Nodes = std::vector<ReconNode*>;
