#pragma once

#include "records/Arena.h"
#include "records/Edge.h"
#include "records/EdgeList.h"

#include <memory>
#include <vector>

// Owns every Edge record of a mesh, kept in the runs of the nodes' edge
// lists. Records never move, so pointers to them (the front holds many)
// stay valid until release().
class EdgeStore {
public:
    EdgeStore() = default;
    EdgeStore(const EdgeStore&) = delete;
    EdgeStore& operator=(const EdgeStore&) = delete;

    // A new edge record {from, to, triangleCount 0} at the end of from's list.
    Edge* append(ReconNode* from, ReconNode* to);

    // Every edge and run goes; the lists of the nodes still pointing here
    // must not be used again.
    void release();

private:
    Arena storage_;
    std::vector<std::unique_ptr<EdgeHub>> hubs_;
};
