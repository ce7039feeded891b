#include "search/CandidateSearch.h"

#include "search/KdCandidates.h"

#include <cmath>

bool isCrowded(const ReconNode* v, const CGVector& n)
{
    int counter = 0;
    for (const Edge* e : v->edges) {
        if (e->triangleCount != 1)
            continue;
        const CGVector d = e->to->position - e->from->position;
        if (dot(n, d) >= 0.0)  // false for NaN, so a NaN direction never counts
            ++counter;
    }
    // Two open sides on the outward side are an ordinary boundary; three mean
    // the surface already folds around this node.
    return counter > 2;
}

namespace {

// One pass of the scan over the candidate list; keeps the best so far.
class CandidateScan {
public:
    CandidateScan(const ReconNode* a, const ReconNode* b, const CGVector& n)
        : a_(a), b_(b), n_(n), l0_(std::sqrt(squaredLength(b->position - a->position)))
    {
    }

    void consider(ReconNode* c)
    {
        if (c == a_ || c == b_)
            return;
        const CGVector toA = c->position - a_->position;
        const CGVector toB = c->position - b_->position;
        const CGVector m = {(toA.x + toB.x) * 0.5, (toA.y + toB.y) * 0.5, (toA.z + toB.z) * 0.5};
        const double side = dot(n_, m);
        if (side < 0.0 || std::isnan(side))  // exactly on the plane still passes
            return;
        const double score = (squaredLength(toA) + squaredLength(toB)) * 0.5;
        if (!(score < bestScore_))  // strict, so ties go to the entry met first
            return;
        if (!canConnect(a_, c) || !canConnect(b_, c))
            return;
        // Heron's formula for the squared area; a degenerate triangle is refused.
        const double l1 = std::sqrt(squaredLength(toA));
        const double l2 = std::sqrt(squaredLength(toB));
        const double s = (l0_ + l1 + l2) * 0.5;
        const double q = (s - l0_) * s * (s - l1) * (s - l2);
        const double area = q > 0.0 ? std::sqrt(q) : 0.0;
        if (area > 0.0) {
            best_ = c;
            bestScore_ = score;
        }
    }

    ReconNode* best() const { return best_; }
    double bestValue() const { return bestScore_; }
    // Nothing ends a scan early: no candidate can score zero.
    bool done() const { return false; }

private:
    const ReconNode* a_;
    const ReconNode* b_;
    CGVector n_;
    double l0_;
    ReconNode* best_ = nullptr;
    double bestScore_ = 1e300;
};

}  // namespace

ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd)
{
    const ReconNode* a = edge.from;
    const ReconNode* b = edge.to;
    if (isCrowded(a, n) || isCrowded(b, n))
        return nullptr;

    CandidateScan scan(a, b, n);
    if (useKd) {
        // A run makes millions of searches; growing a fresh list for each
        // cost more than the scan. The list is emptied on every use.
        thread_local Nodes candidates;
        // When the spheres hold nothing but the edge, every node is a
        // candidate, exactly as on the linear path.
        if (gatherNearCandidates(tree, edge, candidates)) {
            // A candidate's score is its squared distance from the edge's
            // midpoint plus a quarter of the edge's squared length.
            const double length = std::sqrt(squaredLength(b->position - a->position));
            return scanNearestFirst(nodes, tree, midpoint(a->position, b->position), 4.0 * length, 0, scan);
        }
        for (ReconNode* c : candidates)
            scan.consider(c);
        if (candidates.capacity() > kKeptCandidates)
            Nodes().swap(candidates);
        return scan.best();
    }
    return scanInFileOrder(nodes, 0, scan);
}
