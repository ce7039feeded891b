#pragma once

#include "records/Edge.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <unordered_map>

class ReconNode;

// A run of edge records of one node. A node of a closed surface has about
// six edges, so one run usually holds them all, side by side in memory.
struct EdgeChunk {
    static constexpr std::uint32_t kEdges = 6;
    Edge edges[kEdges];
    EdgeChunk* next = nullptr;
};

// Where each edge of a busy node is, by end node, and its last run.
struct EdgeHub {
    std::unordered_map<const ReconNode*, Edge*> byEnd;
    EdgeChunk* last = nullptr;
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

        Iterator(EdgeChunk* chunk, std::uint32_t left) : chunk_(chunk), left_(left) {}
        Edge* operator*() const { return &chunk_->edges[slot_]; }
        Iterator& operator++()
        {
            --left_;
            if (++slot_ == EdgeChunk::kEdges) {
                chunk_ = chunk_->next;
                slot_ = 0;
            }
            return *this;
        }
        bool operator==(const Iterator& other) const { return left_ == other.left_; }
        bool operator!=(const Iterator& other) const { return left_ != other.left_; }

    private:
        EdgeChunk* chunk_;
        std::uint32_t slot_ = 0;
        std::uint32_t left_;  // edges from here to the end
    };

    Iterator begin() const { return {first_, size_}; }
    Iterator end() const { return {nullptr, 0}; }
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
    EdgeChunk* chunk = first_;
    for (; i >= EdgeChunk::kEdges; i -= EdgeChunk::kEdges)
        chunk = chunk->next;
    return &chunk->edges[i];
}
