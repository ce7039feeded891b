#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "kdtree/KDTree.h"
#include "kdtree/LeafBuckets.h"
#include "records/Edge.h"
#include "records/ReconNode.h"
#include "search/CandidateSearch.h"
#include "search/KdCandidates.h"

#include <cstddef>

// The candidate search over one set of nodes, chosen once: a linear scan of
// every node, or sphere queries on a KD-tree built here over them. It owns
// the tree, the tree's leaf buckets and the lists its searches reuse, so
// two indexes (two runs, on two threads) share nothing.
class CandidateIndex {
public:
    enum class Kind { linear, kdTree };

    // Builds what kind needs over nodes, which must outlive the index and
    // not change while it lives. Where progress is given, the tree's build
    // counts there. sphereShortcut false makes every search walk the tree,
    // as the shortcut must never change a result: for checking exactly that.
    // The tree is built on up to threads threads (0: as the machine has
    // cores), the same tree on any number.
    CandidateIndex(const Nodes& nodes, Kind kind, Progress* progress = nullptr, bool sphereShortcut = true,
                   unsigned threads = 0);

    CandidateIndex(const CandidateIndex&) = delete;
    CandidateIndex& operator=(const CandidateIndex&) = delete;

    Kind kind() const { return kind_; }
    // The tree over the nodes; empty on the linear kind or with no nodes.
    const KDTree<double>& tree() const { return tree_; }
    const LeafBuckets& buckets() const { return buckets_; }

    // point has closed (every side at it carries two triangles) or has
    // opened again: the searches pass over closed points unread.
    void noteClosed(const ReconNode* point) { buckets_.noteClosed(point); }
    void noteOpened(const ReconNode* point) { buckets_.noteOpened(point); }
    // point may close or open soon (see LeafBuckets::expectChange).
    void expectChange(const ReconNode* point) const { buckets_.expectChange(point); }

    // The best third corner for a new triangle on the far side of edge,
    // whose outward direction is n, or null.
    ReconNode* findCandidate(const Edge& edge, const CGVector& n)
    {
        return ::findCandidate(nodes_, tree_, edge, n, kind_ == Kind::kdTree, &buckets_, scratch_);
    }

    // What scan, fresh, picks from the nodes from place first on in file
    // order: through the tree from boxes of half-width half around centre
    // when there is one (see scanNearestFirst), else by the plain pass.
    template <typename Scan>
    ReconNode* scanNearest(const CGVertex& centre, double half, std::size_t first, const Scan& fresh)
    {
        if (!tree_.empty())
            return scanNearestFirst(nodes_, tree_, centre, half, first, fresh, scratch_, &buckets_);
        Scan scan = fresh;
        return scanInFileOrder(nodes_, first, scan);
    }

private:
    const Nodes& nodes_;  // not owned
    Kind kind_;
    KDTree<double> tree_;
    LeafBuckets buckets_;
    SearchScratch scratch_;
};
