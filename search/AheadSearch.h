#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/LeafBuckets.h"
#include "records/ReconNode.h"
#include "search/CandidateSearch.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// Works out ahead, on a thread of its own, the part of the front's coming
// searches that no triangle changes (listInsideSphere). The front is a
// stack: after a triangle on from -> to with third corner c, the next edge
// taken is to -> c, its apex from. From an edge the engine says comes next,
// the thread follows the triangles its lists foretell (each list's first
// point) a few edges ahead of the engine. Decisions stay with the engine:
// it takes a list only when one was made for the very edge and direction it
// searches, and the search checks what the run has changed since; a
// foretelling that misses only costs the thread's time.
class AheadSearch {
public:
    // The outward direction of the edge a -> b whose triangle's third
    // corner is apex, as the engine works it out.
    using Direction = CGVector (*)(CGVertex a, CGVertex b, const ReconNode* apex);

    // buckets must outlive this and keep their shape; no point's position
    // may change while it lives.
    AheadSearch(const LeafBuckets& buckets, Direction direction);
    ~AheadSearch();

    AheadSearch(const AheadSearch&) = delete;
    AheadSearch& operator=(const AheadSearch&) = delete;

    // The edge from -> to, the third corner of whose triangle is apex, is
    // the next the engine takes: the thread starts over from it.
    void follow(const ReconNode* from, const ReconNode* to, const ReconNode* apex);

    // Copies into list the list made for from -> to with outward direction
    // n and returns true, waiting briefly if it is being made; false when
    // there is none. The first point of a list used is the one the thread
    // foretold.
    bool take(const ReconNode* from, const ReconNode* to, const CGVector& n, SphereList& list);

    // The point list foretells for its edge: its first, when the search
    // would settle on it if the run let it join both ends; else null.
    static ReconNode* foretold(const SphereList& list);

    // Lists taken, for measuring.
    std::uint64_t taken() const { return taken_; }

private:
    struct Slot;
    struct Job {
        const ReconNode* from = nullptr;
        const ReconNode* to = nullptr;
        const ReconNode* apex = nullptr;
    };
    // Steps the thread may run ahead of the engine.
    static constexpr std::uint64_t kAhead = 6;
    static constexpr std::size_t kSlots = 64;

    void work();
    Slot& slotFor(const ReconNode* from, const ReconNode* to) const;

    const LeafBuckets& buckets_;
    Direction direction_;
    std::unique_ptr<Slot[]> slots_;
    std::uint64_t taken_ = 0;

    // The edge to start over from; round_ counts the starts and is odd
    // while the engine writes one.
    std::atomic<const ReconNode*> startFrom_{nullptr};
    std::atomic<const ReconNode*> startTo_{nullptr};
    std::atomic<const ReconNode*> startApex_{nullptr};
    std::atomic<std::uint64_t> round_{0};
    std::mutex mutex_;  // for sleeping only
    std::atomic<std::uint64_t> picked_{0};  // the last round the thread began
    Job followed_;                          // the engine's own copy of start_
    // How far along the current round the engine has taken lists.
    std::atomic<std::uint64_t> reached_{0};
    // The edge the thread is working on, so that the engine waits for it.
    std::atomic<const ReconNode*> workingFrom_{nullptr};
    std::atomic<const ReconNode*> workingTo_{nullptr};
    std::atomic<bool> stop_{false};
    std::atomic<bool> sleeping_{false};
    std::condition_variable wake_;
    std::thread worker_;
};
