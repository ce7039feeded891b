#pragma once

#include "geometry/Surface.h"
#include "repair/FaceBoxTree.h"
#include "repair/ThreadParts.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

// What the plans carried out so far in one batch changed, for the hole
// steps that work out a batch of plans at once from the faces as the batch
// found them and carry them out in order: a later plan still holds where
// none of the changes reaches what it read.
class BatchChanges {
public:
    explicit BatchChanges(std::size_t pointCount) : stamp_(pointCount, 0) {}

    // A new batch: nothing changed yet.
    void begin()
    {
        ++batch_;
        boxes_.clear();
        added_ = false;
    }

    // A face that went (box as the tree has it) or came.
    void take(const Face& face, const Box& box, bool came)
    {
        for (const std::uint32_t corner : face)
            stamp_[corner] = batch_;
        boxes_.push_back(box);
        added_ = added_ || came;
    }

    // Whether a face came in this batch: the box tree may have been built
    // again, which changes the order its answers come in.
    bool added() const { return added_; }

    // Whether a change touched one of the points read (their faces) or
    // met the box asked of the tree (null when none was asked).
    bool reaches(const std::vector<std::uint32_t>& read, const Box* asked) const
    {
        if (boxes_.empty())
            return false;
        if (asked != nullptr)
            for (const Box& box : boxes_)
                if (box.meets(*asked))
                    return true;
        for (const std::uint32_t p : read)
            if (stamp_[p] == batch_)
                return true;
        return false;
    }

private:
    std::vector<std::uint32_t> stamp_;  // per point: the batch that changed its faces last
    std::uint32_t batch_ = 0;
    std::vector<Box> boxes_;  // of the faces that went or came
    bool added_ = false;
};

// Works items 0 to count - 1 through in order. Where a batch of them
// weighs at least enough (weigh(item) summed) and planners > 1, their plans
// are made at once on that many threads, planner p taking whichever is
// next, over the state as the batch found it (make(p, item, true)); then
// they are carried out in order (carry(plan, item)), and a plan the ones
// before it made stale (stale(plan, item)) is made again first. Otherwise
// each is planned (make(0, item, false): nothing will ask what it read) and
// carried out in turn. The outcome is the same for any
// number of planners as long as stale() sees every change that reaches
// what a plan read.
template <class Plan, class Make, class Weigh, class Stale, class Carry>
void planInBatches(std::size_t count, unsigned planners, std::size_t batchSize, std::size_t enough,
                   BatchChanges& changes, Make&& make, Weigh&& weigh, Stale&& stale, Carry&& carry)
{
    std::vector<Plan> plans;
    for (std::size_t first = 0; first < count; first += batchSize) {
        const std::size_t size = std::min(batchSize, count - first);
        std::size_t weight = 0;
        for (std::size_t i = 0; i < size && weight < enough; ++i)
            weight += weigh(first + i);
        changes.begin();
        if (planners < 2 || size < 2 || weight < enough) {
            for (std::size_t i = 0; i < size; ++i)
                carry(make(0u, first + i, false), first + i);
            continue;
        }
        const auto parts = static_cast<unsigned>(std::min<std::size_t>(planners, size));
        plans.assign(size, Plan{});
        // each planner takes the next plan not yet taken: which one makes
        // a plan changes nothing in it
        std::atomic<std::size_t> taken{0};
        forEachPart(parts, [&](unsigned part) {
            for (std::size_t i = taken++; i < size; i = taken++)
                plans[i] = make(part, first + i, true);
        });
        for (std::size_t i = 0; i < size; ++i) {
            if (i > 0 && stale(plans[i], first + i))
                plans[i] = make(0u, first + i, true);
            carry(plans[i], first + i);
        }
    }
}
