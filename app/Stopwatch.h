#pragma once

#include <cstdint>

// Measures one interval on the monotonic clock. Each run keeps its own, so
// runs side by side never read each other's start.
class Stopwatch {
public:
    // Starts (or restarts) the interval. False when no monotonic clock
    // exists (never on the platforms we build for).
    bool startTimer();

    // Whole milliseconds since startTimer, truncated; 0 before it.
    std::uint64_t elapsedMilliseconds() const;

private:
    std::uint64_t frequency_ = 0;  // ticks per second
    std::uint64_t startCount_ = 0;
};
