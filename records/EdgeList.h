#pragma once

#include "records/Edge.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <unordered_map>

class ReconNode;

// The later runs of a node's edge records. On scanned points a node has
// anything from three to over twenty edges, most of them six or seven:
// the few past the first run come two at a time, so a node of seven does
// not carry five empty records.
struct EdgeSpill {
    static constexpr std::uint32_t kEdges = 2;
    Edge edges[kEdges];
    EdgeSpill* next = nullptr;
};

// The first run of edge records of one node. A node of a closed surface has
// about six edges, so this run usually holds them all, side by side in
// memory.
struct EdgeChunk {
    static constexpr std::uint32_t kEdges = 6;
    Edge edges[kEdges];
    EdgeSpill* next = nullptr;
};

// Where each edge of a busy node is, by end node, and its last run.
struct EdgeHub {
    std::unordered_map<const ReconNode*, Edge*> byEnd;
    EdgeSpill* last = nullptr;  // a hub is past its first run
};

// The directed edges that start at one node, in order of creation. The
// node's edge records are kept in the list itself, in runs that never
// move, so a pointer to an edge stays valid for the life of the mesh; the
// list hands out those pointers. Its storage belongs to the engine's
// EdgeStore, which is the only thing that grows it.
class EdgeList {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Edge*;
        using difference_type = std::ptrdiff_t;
        using pointer = Edge* const*;
        using reference = Edge*;

        Iterator(Edge* at, Edge* runEnd, EdgeSpill* next, std::uint32_t left)
            : at_(at), runEnd_(runEnd), next_(next), left_(left)
        {
        }
        Edge* operator*() const { return at_; }
        Iterator& operator++()
        {
            --left_;
            if (++at_ == runEnd_ && next_ != nullptr) {
                at_ = next_->edges;
                runEnd_ = at_ + EdgeSpill::kEdges;
                next_ = next_->next;
            }
            return *this;
        }
        bool operator==(const Iterator& other) const { return left_ == other.left_; }
        bool operator!=(const Iterator& other) const { return left_ != other.left_; }

    private:
        Edge* at_;
        Edge* runEnd_;
        EdgeSpill* next_;
        std::uint32_t left_;  // edges from here to the end
    };

    Iterator begin() const
    {
        if (first_ == nullptr)
            return end();
        return {first_->edges, first_->edges + EdgeChunk::kEdges, first_->next, size_};
    }
    Iterator end() const { return {nullptr, nullptr, nullptr, 0}; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // The i-th edge; walks the runs, so meant for short lists and tests.
    Edge* operator[](std::size_t i) const;
    Edge* back() const { return (*this)[size_ - 1]; }

    // Past kIndexedDegree edges a list also keeps a table from end node to
    // edge, so lookups at a hub of coincident points stay constant-time.
    // Null for an ordinary list.
    const EdgeHub* hub() const { return hub_; }

    static constexpr std::uint32_t kIndexedDegree = 32;

private:
    friend class EdgeStore;

    EdgeChunk* first_ = nullptr;
    EdgeHub* hub_ = nullptr;
    std::uint32_t size_ = 0;
};

inline Edge* EdgeList::operator[](std::size_t i) const
{
    if (i < EdgeChunk::kEdges)
        return &first_->edges[i];
    EdgeSpill* spill = first_->next;
    for (i -= EdgeChunk::kEdges; i >= EdgeSpill::kEdges; i -= EdgeSpill::kEdges)
        spill = spill->next;
    return &spill->edges[i];
}
