#pragma once

#include "mesh/Arena.h"
#include "mesh/Edge.h"
#include "mesh/EdgeList.h"

#include <cstdint>
#include <memory>
#include <vector>

// Owns every Edge record of a mesh and the storage of every node's edge
// list. Records never move, so pointers to them (the front holds many)
// stay valid until release().
class EdgeStore {
public:
    EdgeStore() = default;
    EdgeStore(const EdgeStore&) = delete;
    EdgeStore& operator=(const EdgeStore&) = delete;

    // A new edge record {from, to, triangleCount 0}, appended to from's list.
    Edge* append(ReconNode* from, ReconNode* to);

    // Every edge and list goes; the lists of the nodes still pointing here
    // must not be used again.
    void release();

private:
    // Room for capacity entries, from a block an outgrown list left behind
    // when one of that size is free.
    Edge** takeBlock(std::uint32_t capacity);
    void giveBack(Edge** block, std::uint32_t capacity);
    static std::uint32_t capacityAfter(std::uint32_t size);
    static int sizeClass(std::uint32_t capacity);

    Arena storage_;
    // Outgrown blocks by size class, each linking to the next through its
    // first entry.
    std::vector<Edge**> freeBlocks_;
    std::vector<std::unique_ptr<HubIndex>> hubs_;
};
