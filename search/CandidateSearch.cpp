#include "search/CandidateSearch.h"

#include "kdtree/LeafBuckets.h"
#include "kdtree/SphereSearch.h"
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

// What the scan over the first sphere query's list picks, found from the
// points inside the sphere alone; null when that cannot be told for sure,
// and the tree must be walked. The walk reports, in leaf order, every
// point inside the sphere and, from regions inside the sphere's box,
// points outside it. The scan's tests do not depend on what it has seen,
// so it picks the acceptable point of smallest score, the first in leaf
// order among equals; when the best point inside scores below every
// score an outside point can have, nothing the walk adds changes that,
// and its count is not the two that sends it to a second query. scan
// must be fresh; it is used up either way.
ReconNode* pickInsideSphere(const LeafBuckets& buckets, const ReconNode* a, const ReconNode* b, CandidateScan& scan)
{
    if (buckets.empty())
        return nullptr;
    // The same numbers the sphere query is made of.
    const double squared = squaredLength(b->position - a->position);
    const double length = std::sqrt(squared);
    const SphereSearch sphere(midpoint(a->position, b->position), 1.5 * length);
    const double floor = outsideScoreFloor(sphere.centre, sphere.radius, squared);
    if (!(floor > 0.0))
        return nullptr;
    CGVertex low;
    CGVertex high;
    sphere.bounds(low, high);
    std::size_t inside = 0;
    bool sure = true;
    buckets.visitBox(low, high, [&](ReconNode* node) {
        const CGVertex& p = node->position;
        if (!sphere.holds(p))
            return;
        ++inside;
        // A point inside the closed box is one the walk reaches; one
        // outside it (rounding at the sphere's edge, far from the origin)
        // the walk may have passed by.
        if (low.x <= p.x && p.x <= high.x && low.y <= p.y && p.y <= high.y && low.z <= p.z && p.z <= high.z)
            scan.consider(node);
        else
            sure = false;
    });
    if (!sure || inside < 3 || scan.best() == nullptr || !(scan.bestValue() < floor))
        return nullptr;
    return scan.best();
}

}  // namespace

ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd, const LeafBuckets* buckets)
{
    SearchScratch scratch;
    return findCandidate(nodes, tree, edge, n, useKd, buckets, scratch);
}

ReconNode* findCandidate(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, const CGVector& n,
                         bool useKd, const LeafBuckets* buckets, SearchScratch& scratch)
{
    const ReconNode* a = edge.from;
    const ReconNode* b = edge.to;
    if (isCrowded(a, n) || isCrowded(b, n))
        return nullptr;

    CandidateScan scan(a, b, n);
    if (useKd) {
        CandidateScan quick = scan;
        if (ReconNode* found = buckets != nullptr ? pickInsideSphere(*buckets, a, b, quick) : nullptr)
            return found;
        // The list is emptied on every use.
        Nodes& candidates = scratch.candidates;
        // When the spheres hold nothing but the edge, every node is a
        // candidate, exactly as on the linear path.
        if (gatherNearCandidates(tree, edge, candidates)) {
            // A candidate's score is its squared distance from the edge's
            // midpoint plus a quarter of the edge's squared length.
            const double length = std::sqrt(squaredLength(b->position - a->position));
            return scanNearestFirst(nodes, tree, midpoint(a->position, b->position), 4.0 * length, 0, scan, scratch);
        }
        for (ReconNode* c : candidates)
            scan.consider(c);
        if (candidates.capacity() > kKeptCandidates)
            Nodes().swap(candidates);
        return scan.best();
    }
    return scanInFileOrder(nodes, 0, scan);
}
