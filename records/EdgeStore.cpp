#include "records/EdgeStore.h"

#include "records/ReconNode.h"

#include <cassert>
#include <limits>

Edge* EdgeStore::append(ReconNode* from, ReconNode* to)
{
    EdgeList& list = from->edges;
    assert(list.size_ < std::numeric_limits<std::uint32_t>::max());
    // An ordinary list is short enough to walk to its last run; a hub
    // remembers it.
    EdgeChunk* last = list.first_;
    if (list.hub_ != nullptr)
        last = list.hub_->last;
    else
        while (last != nullptr && last->next != nullptr)
            last = last->next;

    const std::uint32_t slot = list.size_ % EdgeChunk::kEdges;
    if (slot == 0) {
        EdgeChunk* chunk = storage_.make<EdgeChunk>();
        (last == nullptr ? list.first_ : last->next) = chunk;
        last = chunk;
        if (list.hub_ != nullptr)
            list.hub_->last = chunk;
    }
    Edge* edge = &last->edges[slot];
    *edge = Edge{from, to, 0};
    ++list.size_;

    if (list.hub_ != nullptr) {
        list.hub_->byEnd.emplace(to, edge);
    } else if (list.size_ > EdgeList::kIndexedDegree) {
        // There is at most one edge a -> b, so the table finds the same
        // edge the scan would.
        hubs_.push_back(std::make_unique<EdgeHub>());
        list.hub_ = hubs_.back().get();
        list.hub_->last = last;
        for (Edge* e : list)
            list.hub_->byEnd.emplace(e->to, e);
    }
    return edge;
}

void EdgeStore::release()
{
    storage_.release();
    hubs_.clear();
}
