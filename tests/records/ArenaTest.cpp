#include "records/Arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

TEST(Arena, RecordsAreAlignedApartAndKeepWhatWasWritten)
{
    // Odd sizes and mixed alignments, across many block ends: every record
    // must be aligned, inside storage of its own, and hold its bytes until
    // the arena lets go. A sanitizer build catches any record that runs
    // past its block.
    struct Record {
        unsigned char* start;
        std::size_t size;
        unsigned char fill;
    };
    std::mt19937 random(17);
    std::uniform_int_distribution<std::size_t> size(1, 200);
    std::uniform_int_distribution<int> alignment(0, 3);
    Arena arena;
    for (int round = 0; round < 2; ++round) {
        std::vector<Record> records;
        for (int i = 0; i < 20000; ++i) {
            const std::size_t align = std::size_t{1} << alignment(random);
            const std::size_t bytes = i % 1000 == 999 ? 300000 : size(random);
            auto* start = static_cast<unsigned char*>(arena.allocate(bytes, align));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(start) % align, 0u);
            const auto fill = static_cast<unsigned char>(i);
            std::memset(start, fill, bytes);
            records.push_back({start, bytes, fill});
        }
        for (const Record& r : records)
            for (std::size_t b = 0; b < r.size; b += 97)
                ASSERT_EQ(r.start[b], r.fill);
        arena.release();
    }
}
