#pragma once

#include <atomic>
#include <cstdint>

// How far the long piece of work under way has got: which stage it is in
// and how much of the stage is done. The worker writes; a display reads it
// from a thread of its own. Where one thread does the work, a count is a
// plain load and store, no locked instruction: keeping it costs the work
// nothing measurable, whether anyone watches or not.
class Progress {
public:
    enum class Stage : std::uint8_t { None, Reading, Normals, Tree, Triangulating, Repairing, Writing };

    // Starts stage with nothing done of total units (0: the total is not
    // known in advance, as for a pipe).
    void begin(Stage stage, std::uint64_t total)
    {
        done_.store(0, std::memory_order_relaxed);
        total_.store(total, std::memory_order_relaxed);
        stage_.store(stage, std::memory_order_relaxed);
        begun_.store(begun_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    void set(std::uint64_t done) { done_.store(done, std::memory_order_relaxed); }
    void advance(std::uint64_t by) { set(done_.load(std::memory_order_relaxed) + by); }
    // advance for work split over threads: a locked add, so call it for a
    // block of units at a time.
    void share(std::uint64_t by) { done_.fetch_add(by, std::memory_order_relaxed); }

    Stage stage() const { return stage_.load(std::memory_order_relaxed); }
    std::uint64_t done() const { return done_.load(std::memory_order_relaxed); }
    std::uint64_t total() const { return total_.load(std::memory_order_relaxed); }
    // How many stages have begun: tells a stage begun again from one going on.
    std::uint64_t begun() const { return begun_.load(std::memory_order_acquire); }

private:
    std::atomic<Stage> stage_{Stage::None};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<std::uint64_t> begun_{0};
};
