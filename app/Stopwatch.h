#pragma once

#include <cstdint>

// Starts the one program-wide stopwatch. False when no monotonic clock
// exists (never on the platforms we build for).
bool startTimer();

// Whole milliseconds since startTimer, truncated.
std::uint64_t elapsedMilliseconds();
