#include "mesh/Arena.h"

#include <algorithm>
#include <cassert>
#include <cstdint>

void* Arena::allocate(std::size_t bytes, std::size_t align)
{
    assert(align != 0 && (align & (align - 1)) == 0 && align <= alignof(std::max_align_t));
    auto aligned = [align](std::byte* p) {
        const auto address = reinterpret_cast<std::uintptr_t>(p);
        return p + ((align - address % align) % align);
    };
    std::byte* start = next_ != nullptr ? aligned(next_) : nullptr;
    if (start == nullptr || static_cast<std::size_t>(end_ - start) < bytes) {
        const std::size_t size = std::max(nextBlock_, bytes + align);
        nextBlock_ = std::min(2 * nextBlock_, kLargestBlock);
        blocks_.emplace_back(new std::byte[size]);
        reserved_ += size;
        next_ = blocks_.back().get();
        end_ = next_ + size;
        start = aligned(next_);
    }
    next_ = start + bytes;
    return start;
}

void Arena::release()
{
    blocks_.clear();
    blocks_.shrink_to_fit();
    next_ = nullptr;
    end_ = nullptr;
    reserved_ = 0;
    nextBlock_ = kFirstBlock;
}
