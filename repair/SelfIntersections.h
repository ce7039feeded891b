#pragma once

#include "geometry/Surface.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

class EdgeTable;
class FaceBoxTree;

// Every pair of faces (lower index first) that meet beyond the corners and
// the edge they share, found through a box tree and decided exactly.
std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces);
// The same through a box tree that knows the faces as they are, on up to
// threads threads; the pairs are the same for every count.
std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces, const FaceBoxTree& boxes,
                                                                       unsigned threads = 1);

// The meeting pairs of a face list, sought on a thread of their own while
// the caller drops faces and turns some over (their last two corners
// swapped): whether two faces meet does not depend on which others are
// there or on the way either runs, so the pairs among the faces left are
// those found among all. Where no thread starts, or a point is not finite
// (its box would not hold it), the search waits for the faces left.
class CrossingSearch {
public:
    CrossingSearch(const std::vector<CGVertex>& positions, const Faces& faces);
    ~CrossingSearch();
    CrossingSearch(const CrossingSearch&) = delete;
    CrossingSearch& operator=(const CrossingSearch&) = delete;

    // Every pair of the faces (lower index first, in order) that meet, as
    // intersectingPairs finds them: the faces must be those given, in
    // order, some dropped, some turned over. Takes what is left of the
    // search on this thread too, and passes on memory running out there.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairsAmong(const Faces& faces);

private:
    using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    // Walks pieces of the search until none is left; who: 0 the caller's
    // thread, 1 the search's own.
    void search(unsigned who);

    const std::vector<CGVertex>& positions_;
    Faces faces_;  // as given: the thread reads them while the caller's faces change
    std::unique_ptr<FaceBoxTree> tree_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pieces_;
    std::atomic<bool> ready_{false};  // whether the tree and its pieces are there to share
    std::atomic<std::size_t> next_{0};
    Pairs found_[2];
    std::exception_ptr failed_[2];
    std::thread thread_;
};

// Drops faces until no two of the rest meet: of each meeting pair, the face
// that meets more others goes, and on a tie the one that fits the point
// normals worse, so a fold's stray layer goes before the sheet it crosses.
// Returns how many faces went; the rest keep their order.
// The box tree, and a table given, follow the faces that go. The search
// runs on up to threads threads and finds the same for every count.
// Where corners is given, the corners of the faces that went are appended.
// Where ahead is given, its pairs are taken instead of a search.
std::uint64_t removeIntersections(const Surface& surface, Faces& faces, FaceBoxTree& boxes, EdgeTable* table = nullptr,
                                  unsigned threads = 1, std::vector<std::uint32_t>* corners = nullptr,
                                  CrossingSearch* ahead = nullptr);
