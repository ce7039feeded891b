#include "app/Stopwatch.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t currentCount()
{
    return static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
}

}  // namespace

bool Stopwatch::startTimer()
{
    frequency_ = static_cast<std::uint64_t>(Clock::period::den) / static_cast<std::uint64_t>(Clock::period::num);
    if (frequency_ == 0)
        return false;
    startCount_ = currentCount();
    return true;
}

std::uint64_t Stopwatch::elapsedMilliseconds() const
{
    if (frequency_ == 0)
        return 0;
    const std::uint64_t ticks = currentCount() - startCount_;
    return static_cast<std::uint64_t>(static_cast<double>(ticks) * (1000.0 / static_cast<double>(frequency_)));
}
