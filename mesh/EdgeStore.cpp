#include "mesh/EdgeStore.h"

#include "mesh/ReconNode.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace {

// A node of a closed surface has about six edges. Growing by two up to
// eight fits six exactly; past that, lists grow by half and then double.
constexpr std::uint32_t kCapacities[] = {2, 4, 6, 8, 12, 16, 24, 32};

}  // namespace

std::uint32_t EdgeStore::capacityAfter(std::uint32_t size)
{
    for (std::uint32_t capacity : kCapacities)
        if (size < capacity)
            return capacity;
    assert(size < std::numeric_limits<std::uint32_t>::max() / 2);
    std::uint32_t capacity = 64;
    while (capacity <= size)
        capacity *= 2;
    return capacity;
}

int EdgeStore::sizeClass(std::uint32_t capacity)
{
    const auto small = std::find(std::begin(kCapacities), std::end(kCapacities), capacity);
    if (small != std::end(kCapacities))
        return static_cast<int>(small - std::begin(kCapacities));
    int doublings = 0;
    for (std::uint32_t c = 64; c < capacity; c *= 2)
        ++doublings;
    return static_cast<int>(std::size(kCapacities)) + doublings;
}

Edge** EdgeStore::takeBlock(std::uint32_t capacity)
{
    const auto cls = static_cast<std::size_t>(sizeClass(capacity));
    if (cls < freeBlocks_.size() && freeBlocks_[cls] != nullptr) {
        Edge** block = freeBlocks_[cls];
        freeBlocks_[cls] = reinterpret_cast<Edge**>(block[0]);
        return block;
    }
    // A list past the index threshold keeps its table's address in a word
    // before its entries.
    const std::size_t extra = capacity > EdgeList::kIndexedDegree ? 1 : 0;
    auto* words = static_cast<Edge**>(storage_.allocate((capacity + extra) * sizeof(Edge*), alignof(Edge*)));
    return words + extra;
}

void EdgeStore::giveBack(Edge** block, std::uint32_t capacity)
{
    const auto cls = static_cast<std::size_t>(sizeClass(capacity));
    if (cls >= freeBlocks_.size())
        freeBlocks_.resize(cls + 1, nullptr);
    block[0] = reinterpret_cast<Edge*>(freeBlocks_[cls]);
    freeBlocks_[cls] = block;
}

Edge* EdgeStore::append(ReconNode* from, ReconNode* to)
{
    Edge* edge = storage_.make<Edge>(Edge{from, to, 0});
    EdgeList& list = from->edges;
    if (list.size_ == list.capacity_) {
        const std::uint32_t capacity = capacityAfter(list.size_);
        Edge** block = takeBlock(capacity);
        std::copy(list.data_, list.data_ + list.size_, block);
        HubIndex* hub = list.capacity_ > EdgeList::kIndexedDegree ? *list.hubSlot() : nullptr;
        if (list.data_ != nullptr)
            giveBack(list.data_, list.capacity_);
        list.data_ = block;
        list.capacity_ = capacity;
        if (capacity > EdgeList::kIndexedDegree) {
            if (hub == nullptr) {
                // There is at most one edge a -> b, so the table finds the
                // same edge the scan would.
                hubs_.push_back(std::make_unique<HubIndex>());
                hub = hubs_.back().get();
                for (std::uint32_t i = 0; i < list.size_; ++i)
                    hub->emplace(list.data_[i]->to, i);
            }
            reinterpret_cast<HubIndex**>(block)[-1] = hub;
        }
    }
    list.data_[list.size_] = edge;
    if (list.capacity_ > EdgeList::kIndexedDegree)
        (*list.hubSlot())->emplace(to, list.size_);
    ++list.size_;
    return edge;
}

void EdgeStore::release()
{
    storage_.release();
    freeBlocks_.clear();
    hubs_.clear();
}
