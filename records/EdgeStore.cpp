#include "records/EdgeStore.h"

#include "records/ReconNode.h"

#include <cassert>
#include <limits>

Edge* EdgeStore::append(ReconNode* from, ReconNode* to)
{
    EdgeList& list = from->edges;
    assert(list.size_ < std::numeric_limits<std::uint32_t>::max());
    Edge* edge;
    EdgeSpill* last = nullptr;
    if (list.size_ < EdgeChunk::kEdges) {
        if (list.size_ == 0)
            list.first_ = storage_.make<EdgeChunk>();
        edge = &list.first_->edges[list.size_];
    } else {
        // An ordinary list is short enough to walk to its last run; a hub
        // remembers it.
        if (list.hub_ != nullptr) {
            last = list.hub_->last;
        } else {
            last = list.first_->next;
            while (last != nullptr && last->next != nullptr)
                last = last->next;
        }
        const std::uint32_t slot = (list.size_ - EdgeChunk::kEdges) % EdgeSpill::kEdges;
        if (slot == 0) {
            EdgeSpill* spill = storage_.make<EdgeSpill>();
            (last == nullptr ? list.first_->next : last->next) = spill;
            last = spill;
            if (list.hub_ != nullptr)
                list.hub_->last = spill;
        }
        edge = &last->edges[slot];
    }
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
