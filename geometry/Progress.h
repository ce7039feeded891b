#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// How far the long piece of work under way has got: which stage it is in
// and how much of the stage is done, and whether it should stop. The
// worker writes; a display reads it from a thread of its own, or a
// listener hears of it from the worker's thread now and then. Where one thread does the work, a count is a
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
        if (listener_) {
            // About two hundred calls a stage: often enough for a bar and a
            // cancel check, rare enough to cost nothing.
            step_ = total / 200 > 0 ? total / 200 : 1;
            next_ = 0;
            set(0);
        }
    }

    void set(std::uint64_t done)
    {
        done_.store(done, std::memory_order_relaxed);
        if (done >= next_)
            tell(done);
    }
    void advance(std::uint64_t by) { set(done_.load(std::memory_order_relaxed) + by); }
    // advance for work split over threads: a locked add, so call it for a
    // block of units at a time.
    void share(std::uint64_t by) { done_.fetch_add(by, std::memory_order_relaxed); }

    Stage stage() const { return stage_.load(std::memory_order_relaxed); }
    std::uint64_t done() const { return done_.load(std::memory_order_relaxed); }
    std::uint64_t total() const { return total_.load(std::memory_order_relaxed); }
    // How many stages have begun: tells a stage begun again from one going on.
    std::uint64_t begun() const { return begun_.load(std::memory_order_acquire); }

    // Called on the worker's thread when a stage begins and every two
    // hundredth of it (not from work split over threads); it may ask the
    // work to stop through the flag. Set before the work starts.
    void listen(std::function<void()> listener)
    {
        listener_ = std::move(listener);
        next_ = listener_ ? 0 : kNever;
    }

    // Work checks this now and then and, when it is set, stops early and
    // says so. The flag is the caller's, not owned; it may be set from any
    // thread or a signal handler. Set before the work starts.
    void stopWhen(const std::atomic<bool>* flag) { stop_ = flag; }
    bool stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }
    // The flag set by stopWhen, for work on other threads to stop by; null
    // when there is none.
    const std::atomic<bool>* stopFlag() const { return stop_; }

private:
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};

    void tell(std::uint64_t done)
    {
        next_ = done + step_;
        if (listener_)
            listener_();
    }

    std::function<void()> listener_;
    std::uint64_t next_ = kNever;  // the count at which the listener hears next
    std::uint64_t step_ = 1;
    const std::atomic<bool>* stop_ = nullptr;  // not owned

    std::atomic<Stage> stage_{Stage::None};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<std::uint64_t> begun_{0};
};
