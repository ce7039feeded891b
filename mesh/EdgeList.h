#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

struct Edge;
class ReconNode;

// Where each edge of a busy node sits in its list, by end node.
using HubIndex = std::unordered_map<const ReconNode*, std::uint32_t>;

// The directed edges that start at one node, in order of creation: a
// growable array of edge pointers. Its storage belongs to the engine's
// EdgeStore, which is the only thing that grows it, so a node costs no
// allocation of its own and a whole mesh is freed at once.
class EdgeList {
public:
    Edge* const* begin() const { return data_; }
    Edge* const* end() const { return data_ + size_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Edge* operator[](std::size_t i) const { return data_[i]; }
    Edge* back() const { return data_[size_ - 1]; }

    // Past kIndexedDegree edges a list also keeps a table from end node to
    // place, so lookups at a hub of coincident points stay constant-time.
    // Null for an ordinary list.
    const HubIndex* hubIndex() const { return capacity_ > kIndexedDegree ? hubSlot()[0] : nullptr; }

    static constexpr std::uint32_t kIndexedDegree = 32;

private:
    friend class EdgeStore;

    // A list past kIndexedDegree keeps its table's address in the word just
    // before its first entry.
    HubIndex* const* hubSlot() const { return reinterpret_cast<HubIndex* const*>(data_) - 1; }

    Edge** data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};
