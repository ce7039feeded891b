#include "records/Arena.h"

#include <algorithm>
#include <cassert>
#include <cstdint>

void* Arena::allocate(std::size_t bytes, std::size_t align)
{
    assert(align != 0 && (align & (align - 1)) == 0 && align <= alignof(std::max_align_t));
    auto padding = [align](const std::byte* p) {
        return (align - reinterpret_cast<std::uintptr_t>(p) % align) % align;
    };
    if (next_ == nullptr || static_cast<std::size_t>(end_ - next_) < padding(next_) + bytes) {
        const std::size_t size = std::max(nextBlock_, bytes + align);
        nextBlock_ = std::min(2 * nextBlock_, kLargestBlock);
        blocks_.emplace_back(new std::byte[size]);
        next_ = blocks_.back().get();
        end_ = next_ + size;
    }
    std::byte* start = next_ + padding(next_);
    next_ = start + bytes;
    return start;
}

void Arena::release()
{
    blocks_.clear();
    blocks_.shrink_to_fit();
    next_ = nullptr;
    end_ = nullptr;
    nextBlock_ = kFirstBlock;
}
