#include "repair/SelfIntersections.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>

namespace {

// Below this many faces a thread costs more to start than it saves.
constexpr std::size_t kFacesWorthAThread = 20000;
// Pieces of the walk per thread: enough that no thread waits long on the
// last.
constexpr std::size_t kPiecesPerThread = 64;

}  // namespace

std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces)
{
    return intersectingPairs(positions, faces, FaceBoxTree(positions, faces));
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces, const FaceBoxTree& tree,
                                                                       unsigned threads)
{
    using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    const auto collect = [&positions, &faces](Pairs& pairs) {
        return [&positions, &faces, &pairs](std::uint32_t f, std::uint32_t g) {
            if (facesIntersect(positions, faces[f], faces[g]))
                pairs.push_back({f, g});
        };
    };
    Pairs pairs;
    if (threads < 2 || faces.size() < kFacesWorthAThread) {
        tree.forEachMeetingPair(collect(pairs));
    } else {
        // Each thread takes the next piece as it comes free, as the pieces'
        // costs differ; which thread found a pair is lost in the sort below.
        const auto parts = tree.meetingPairParts(kPiecesPerThread * threads);
        std::atomic<std::size_t> next{0};
        std::vector<Pairs> found(threads);
        // memory running out on a helper reaches the caller, as on one thread
        std::vector<std::exception_ptr> failed(threads);
        const auto work = [&](unsigned t) {
            try {
                const auto visit = collect(found[t]);
                for (std::size_t p = next++; p < parts.size(); p = next++)
                    tree.forEachMeetingPairIn(parts[p], visit);
            } catch (...) {
                failed[t] = std::current_exception();
                next = parts.size();
            }
        };
        // Room for every helper first: a vector growing past its room with
        // threads running would end the program instead of reporting.
        std::vector<std::thread> helpers;
        helpers.reserve(threads);
        for (unsigned t = 1; t < threads; ++t) {
            try {
                helpers.emplace_back(work, t);
            } catch (const std::system_error&) {
                break;  // the threads there are take every piece between them
            }
        }
        work(0);
        for (std::thread& helper : helpers)
            helper.join();
        for (const std::exception_ptr& failure : failed)
            if (failure)
                std::rethrow_exception(failure);
        for (const Pairs& some : found)
            pairs.insert(pairs.end(), some.begin(), some.end());
    }
    // the removal walks the pairs in face order, whatever order the walk found them in
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

CrossingSearch::CrossingSearch(const std::vector<CGVertex>& positions, const Faces& faces) : positions_(positions)
{
    for (const CGVertex& p : positions)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return;
    faces_ = faces;
    try {
        thread_ = std::thread([this] {
            try {
                tree_ = std::make_unique<FaceBoxTree>(positions_, faces_);
                pieces_ = tree_->meetingPairParts(2 * kPiecesPerThread);
            } catch (...) {
                failed_[1] = std::current_exception();
                return;
            }
            ready_.store(true, std::memory_order_release);
            search(1);
        });
    } catch (const std::system_error&) {
        faces_.clear();
    }
}

CrossingSearch::~CrossingSearch()
{
    if (thread_.joinable()) {
        // nobody waits for the pairs: the pieces not begun are left
        next_ = std::numeric_limits<std::size_t>::max() / 2;
        thread_.join();
    }
}

void CrossingSearch::search(unsigned who)
{
    try {
        const auto visit = [this, who](std::uint32_t f, std::uint32_t g) {
            if (facesIntersect(positions_, faces_[f], faces_[g]))
                found_[who].push_back({f, g});
        };
        for (std::size_t p = next_++; p < pieces_.size(); p = next_++)
            tree_->forEachMeetingPairIn(pieces_[p], visit);
    } catch (...) {
        failed_[who] = std::current_exception();
        next_ = pieces_.size();
    }
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> CrossingSearch::pairsAmong(const Faces& faces)
{
    if (!thread_.joinable())
        return intersectingPairs(positions_, faces);
    if (ready_.load(std::memory_order_acquire))
        search(0);
    thread_.join();
    for (const std::exception_ptr& failure : failed_)
        if (failure)
            std::rethrow_exception(failure);
    // Each face left is the next one searched with the same first corner
    // and the same other two, either way round: faces only went, in order.
    std::vector<std::uint32_t> place(faces_.size(), kNoFace);
    std::size_t searched = 0;
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        while (searched < faces_.size()) {
            const Face& was = faces_[searched];
            if (was[0] == face[0] &&
                ((was[1] == face[1] && was[2] == face[2]) || (was[1] == face[2] && was[2] == face[1])))
                break;
            ++searched;
        }
        // faces that are not those searched are searched afresh
        if (searched == faces_.size())
            return intersectingPairs(positions_, faces);
        place[searched++] = f;
    }
    Pairs pairs;
    for (const Pairs& some : found_)
        for (const auto& [f, g] : some)
            if (place[f] != kNoFace && place[g] != kNoFace)
                pairs.push_back({place[f], place[g]});
    // in face order, whichever thread found them
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::uint64_t removeIntersections(const Surface& surface, Faces& faces, FaceBoxTree& boxes, EdgeTable* table,
                                  unsigned threads, std::vector<std::uint32_t>* corners, CrossingSearch* ahead)
{
    const auto pairs =
        ahead != nullptr ? ahead->pairsAmong(faces) : intersectingPairs(surface.positions, faces, boxes, threads);
    if (pairs.empty())
        return 0;
    std::vector<std::uint32_t> meets(faces.size(), 0);
    for (const auto& [f, g] : pairs) {
        ++meets[f];
        ++meets[g];
    }
    const auto fit = [&surface, &faces](std::uint32_t f) { return faceAgreement(surface, faces[f]); };
    std::vector<bool> keep(faces.size(), true);
    for (const auto& [f, g] : pairs) {
        if (!keep[f] || !keep[g])
            continue;
        const bool dropF = meets[f] > meets[g] || (meets[f] == meets[g] && fit(f) <= fit(g));
        keep[dropF ? f : g] = false;
    }
    if (corners != nullptr)
        for (std::size_t f = 0; f < faces.size(); ++f)
            if (!keep[f])
                corners->insert(corners->end(), faces[f].begin(), faces[f].end());
    const std::uint64_t removed = keepMarked(faces, keep);
    boxes.keepOnly(keep);
    if (table != nullptr)
        table->keepOnly(keep);
    return removed;
}
