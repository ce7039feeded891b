#pragma once

#include <cstdint>

// Peak resident memory per point of a whole run on a closed surface, as
// measured (README, Memory): what a run of n points should expect to need.
constexpr std::uint64_t kBytesPerPoint = 450;

// How much more memory this process can have, as far as can be learned.
struct MemoryRoom {
    bool known = false;         // false: nothing could be read, so nothing to compare
    std::uint64_t bytes = 0;    // what can still be had
    bool addressLimit = false;  // the address-space limit binds, not the machine's free memory
};

// The machine's available memory (MemAvailable), or what the address-space
// limit leaves beside what the process has mapped already, whichever is
// less.
MemoryRoom memoryRoom();

// What the process holds in memory now; 0 when it cannot be read.
std::uint64_t residentBytes();
