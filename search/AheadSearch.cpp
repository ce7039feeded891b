#include "search/AheadSearch.h"

#include <chrono>
#include <cstring>

// A made list under a lock of its own: the thread writes it whole, the
// engine copies the part it needs.
struct AheadSearch::Slot {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    const ReconNode* from = nullptr;
    const ReconNode* to = nullptr;
    CGVector n{};
    std::uint64_t round = 0;
    std::uint64_t step = 0;
    SphereList list;

    void lock()
    {
        while (busy.test_and_set(std::memory_order_acquire))
            std::this_thread::yield();
    }
    void unlock() { busy.clear(std::memory_order_release); }
};

namespace {

bool sameBits(const CGVector& u, const CGVector& v)
{
    return std::memcmp(&u, &v, sizeof(CGVector)) == 0;
}

}  // namespace

ReconNode* AheadSearch::foretold(const SphereList& list)
{
    if (!list.usable || list.count == 0 || !(list.entries[0].score < list.floor))
        return nullptr;
    return list.entries[0].node;
}

AheadSearch::AheadSearch(const LeafBuckets& buckets, Direction direction)
    : buckets_(buckets), direction_(direction), slots_(new Slot[kSlots]), worker_([this] { work(); })
{
}

AheadSearch::~AheadSearch()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
        wake_.notify_one();
    }
    worker_.join();
}

AheadSearch::Slot& AheadSearch::slotFor(const ReconNode* from, const ReconNode* to) const
{
    const std::uintptr_t key = reinterpret_cast<std::uintptr_t>(from) * 31 + reinterpret_cast<std::uintptr_t>(to);
    return slots_[(key >> 4) % kSlots];
}

void AheadSearch::follow(const ReconNode* from, const ReconNode* to, const ReconNode* apex)
{
    round_.fetch_add(1);
    startFrom_.store(from, std::memory_order_relaxed);
    startTo_.store(to, std::memory_order_relaxed);
    startApex_.store(apex, std::memory_order_relaxed);
    round_.fetch_add(1);
    followed_ = {from, to, apex};
    if (sleeping_.load()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        wake_.notify_one();
    }
}

bool AheadSearch::take(const ReconNode* from, const ReconNode* to, const CGVector& n, SphereList& list)
{
    Slot& slot = slotFor(from, to);
    // A list being made for this edge is worth a short wait: making it here
    // would take as long.
    for (int tries = 0;; ++tries) {
        slot.lock();
        if (slot.from == from && slot.to == to && sameBits(slot.n, n)) {
            list.usable = slot.list.usable;
            list.floor = slot.list.floor;
            list.count = slot.list.count;
            std::memcpy(list.entries, slot.list.entries, sizeof(SphereList::Entry) * slot.list.count);
            const std::uint64_t round = slot.round;
            const std::uint64_t step = slot.step;
            slot.from = nullptr;  // each list serves one search
            slot.unlock();
            if (round == round_.load(std::memory_order_relaxed))
                reached_.store(step, std::memory_order_relaxed);
            ++taken_;
            return true;
        }
        slot.unlock();
        const bool starting = picked_.load() != round_.load(std::memory_order_relaxed) && followed_.from == from &&
                              followed_.to == to;
        if (tries == 1024 || (!starting && (workingFrom_.load() != from || workingTo_.load() != to)))
            return false;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
}

void AheadSearch::work()
{
    SphereList made;
    Job job;
    std::uint64_t round = 0;
    std::uint64_t step = 0;
    bool going = false;
    unsigned idle = 0;
    while (!stop_.load(std::memory_order_relaxed)) {
        const std::uint64_t now = round_.load();
        if (now != round && now % 2 == 0) {
            job = {startFrom_.load(std::memory_order_relaxed), startTo_.load(std::memory_order_relaxed),
                   startApex_.load(std::memory_order_relaxed)};
            std::atomic_thread_fence(std::memory_order_acquire);
            if (round_.load(std::memory_order_relaxed) != now)
                continue;  // written over while read
            round = now;
            step = 0;
            workingFrom_.store(job.from);
            workingTo_.store(job.to);
            picked_.store(round);
            going = true;
            reached_.store(0, std::memory_order_relaxed);
        }
        if (!going || step > reached_.load(std::memory_order_relaxed) + kAhead) {
            if (going || ++idle < 20000) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
                continue;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            sleeping_.store(true);
            wake_.wait_for(lock, std::chrono::microseconds(200),
                           [&] { return stop_.load() || round_.load() != round; });
            sleeping_.store(false);
            idle = 0;
            continue;
        }
        idle = 0;
        const CGVector n = direction_(job.from->position, job.to->position, job.apex);
        workingFrom_.store(job.from);
        workingTo_.store(job.to);
        listInsideSphere(buckets_, job.from, job.to, n, made);
        Slot& slot = slotFor(job.from, job.to);
        slot.lock();
        slot.from = job.from;
        slot.to = job.to;
        slot.n = n;
        slot.round = round;
        slot.step = ++step;
        slot.list.usable = made.usable;
        slot.list.floor = made.floor;
        slot.list.count = made.count;
        std::memcpy(slot.list.entries, made.entries, sizeof(SphereList::Entry) * made.count);
        slot.unlock();
        workingFrom_.store(nullptr);
        workingTo_.store(nullptr);
        // The triangle the list foretells puts to -> c on top of the front.
        const ReconNode* c = foretold(made);
        if (c == nullptr)
            going = false;
        else
            job = {job.to, c, job.from};
    }
}
