#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// Storage for many small records that all die together. Records are carved
// one after the other out of large blocks, so they cost no per-record
// bookkeeping, sit next to the records made just before them, and go back
// to the system in a handful of calls instead of one per record. Nothing is
// ever moved: a record's address holds until release().
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Uninitialised room for bytes, aligned to align (a power of two no
    // larger than alignof(std::max_align_t)). Never null.
    void* allocate(std::size_t bytes, std::size_t align);

    // A new T made in the arena. Its destructor never runs: only types whose
    // destructors have nothing left to do once their storage is gone belong
    // here.
    template <typename T, typename... Args>
    T* make(Args&&... args)
    {
        return new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
    }

    // Gives every block back; every record made so far is gone.
    void release();

private:
    // Blocks start small, so a tiny model stays tiny, and grow up to a size
    // the system's allocator maps straight from the kernel.
    static constexpr std::size_t kFirstBlock = 4 * 1024;
    static constexpr std::size_t kLargestBlock = 4 * 1024 * 1024;

    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    std::byte* next_ = nullptr;
    std::byte* end_ = nullptr;
    std::size_t nextBlock_ = kFirstBlock;
};
