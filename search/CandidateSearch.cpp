#include "search/CandidateSearch.h"

#include "kdtree/LeafBuckets.h"
#include "kdtree/SphereSearch.h"
#include "search/KdCandidates.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

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

    void consider(ReconNode* c) { consider(c, 0, false); }

    // The same, for a scan that meets the list's entries out of order:
    // rank is c's place in the list, and of equal scores the lower rank
    // wins, so the result is the one the scan in order gives.
    void consider(ReconNode* c, std::uint32_t rank, bool ranked)
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
        // strict, so ties go to the entry met first
        if (!(score < bestScore_) && !(ranked && best_ != nullptr && score == bestScore_ && rank < bestRank_))
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
            bestRank_ = rank;
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
    std::uint32_t bestRank_ = 0;
};

// Of the closed box [low, high], the offset from centre of the point
// nearest to it on each axis, in the arithmetic a scan uses for a point:
// zero on an axis where the box spans centre. Rounding never moves a
// difference past the difference of a nearer bound, so the squares of the
// scan's differences for any point in the box are at least these.
CGVector gapsFrom(const CGVertex& centre, const LeafBuckets::Box& box)
{
    const double at[3] = {centre.x, centre.y, centre.z};
    double gap[3];
    for (int axis = 0; axis < 3; ++axis) {
        const double low = box.low[axis];
        const double high = box.high[axis];
        gap[axis] = low > at[axis] ? low - at[axis] : high < at[axis] ? high - at[axis] : 0.0;
    }
    return {gap[0], gap[1], gap[2]};
}

// Whether a point of the box can pass the side test: its value at the
// corner farthest along n, where it is largest, bounds every point's.
bool mayLieAhead(const LeafBuckets::Box& box, const ReconNode* a, const ReconNode* b, const CGVector& n)
{
    const CGVertex corner = {n.x >= 0.0 ? box.high[0] : box.low[0], n.y >= 0.0 ? box.high[1] : box.low[1],
                             n.z >= 0.0 ? box.high[2] : box.low[2]};
    const CGVector toA = corner - a->position;
    const CGVector toB = corner - b->position;
    const CGVector m = {(toA.x + toB.x) * 0.5, (toA.y + toB.y) * 0.5, (toA.z + toB.z) * 0.5};
    return !(dot(n, m) < 0.0);  // a NaN bound skips nothing
}

// The least score a point of the box can have, taken at the corners
// nearest each end of the edge.
double lowestBound(const LeafBuckets::Box& box, const ReconNode* a, const ReconNode* b)
{
    return (squaredLength(gapsFrom(a->position, box)) + squaredLength(gapsFrom(b->position, box))) * 0.5;
}

// The lowest score the scan can give a point of the box that it might
// take, or infinity when it takes none: all lie outside the sphere or
// behind the edge. By monotone rounding, each of the scan's sums for a
// point of the box lies between its values at the box's corners, so the
// corner that is best for a test bounds every point's result. Only for
// boxes of finite floats and an edge whose squares cannot overflow, as
// the caller makes sure.
double lowestScore(const LeafBuckets::Box& box, const SphereSearch& sphere, const ReconNode* a, const ReconNode* b,
                   const CGVector& n)
{
    constexpr double kNone = std::numeric_limits<double>::infinity();
    if (sphere.radius * sphere.radius < squaredLength(gapsFrom(sphere.centre, box)))
        return kNone;
    if (!mayLieAhead(box, a, b, n))
        return kNone;
    return lowestBound(box, a, b);
}

bool finite(const LeafBuckets::Box& box)
{
    for (int axis = 0; axis < 3; ++axis)
        if (!std::isfinite(box.low[axis]) || !std::isfinite(box.high[axis]))
            return false;
    return true;
}

// What the scan over every node in file order picks, found from the
// buckets: the acceptable point of smallest score, the lowest index among
// equals, with the scan's own arithmetic. Depth first from the root, the
// side nearer the edge's midpoint first; a part is passed over when none
// of its points is open, all lie behind the edge, or none can score below
// the best so far (the bound taken at the box's nearest corners, as in
// lowestScore, so no point that could win or tie is passed over). Boxes
// with a corner beyond the floats are always read. scan must be fresh.
ReconNode* pickNearest(const LeafBuckets& buckets, const ReconNode* a, const ReconNode* b, const CGVector& n,
                       CandidateScan& scan)
{
    const CGVertex centre = midpoint(a->position, b->position);
    const bool everyBoxFinite = buckets.boxesFinite();
    std::uint32_t pending[64];
    std::size_t waiting = 0;
    pending[waiting++] = 0;
    while (waiting > 0) {
        const std::uint32_t heap = pending[--waiting];
        if (!buckets.anyOpenBelow(heap))
            continue;
        const LeafBuckets::Box& box = buckets.nodeBox(heap);
        if (everyBoxFinite || finite(box)) {
            if (!mayLieAhead(box, a, b, n) || lowestBound(box, a, b) > scan.bestValue())
                continue;
        }
        if (!buckets.isBucket(heap)) {
            std::uint32_t nearer = 2 * heap + 1;
            std::uint32_t farther = 2 * heap + 2;
            if (buckets.centreIsRightOf(heap, centre))
                std::swap(nearer, farther);
            pending[waiting++] = farther;
            pending[waiting++] = nearer;
            continue;
        }
        const std::uint32_t place = buckets.bucketAt(heap);
        for (std::uint32_t i = buckets.first(place); i < buckets.last(place); ++i) {
            ReconNode* node = buckets.entry(i);
            scan.consider(node, node->index, true);
        }
    }
    return scan.best();
}

// What the scan over the first sphere query's list picks, found from the
// points inside the sphere alone; null when that cannot be told for sure,
// and the tree must be walked. The walk reports, in leaf order, every
// point inside the sphere and, from regions inside the sphere's box,
// points outside it. The scan's tests do not depend on what it has seen,
// so it picks the acceptable point of smallest score, the first in leaf
// order among equals; when the best point inside scores below every
// score an outside point can have, nothing the walk adds changes that,
// and with the edge's ends and that point reported its count is not the
// two that sends it to a second query. A bucket of closed points, or one
// whose box rules out every point, holds nothing the scan could take, so
// it is not read. scan must be fresh; it is used up either way.
ReconNode* pickInsideSphere(const LeafBuckets& buckets, const ReconNode* a, const ReconNode* b, const CGVector& n,
                            CandidateScan& scan)
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
    auto inBox = [&low, &high](const CGVertex& p) {
        return low.x <= p.x && p.x <= high.x && low.y <= p.y && p.y <= high.y && low.z <= p.z && p.z <= high.z;
    };
    if (!sphere.holds(a->position) || !inBox(a->position) || !sphere.holds(b->position) || !inBox(b->position))
        return nullptr;
    // Down from the root as far as the box lies wholly on one side of
    // each split, then depth first, the side nearer the centre first. A
    // part without open points, or whose box rules out every point, holds
    // nothing the scan could take.
    const std::uint32_t start = buckets.nodeAbove(low, high);
    const bool everyBoxFinite = buckets.boxesFinite();
    const double lows[3] = {low.x, low.y, low.z};
    const double highs[3] = {high.x, high.y, high.z};
    std::uint32_t pending[64];
    std::size_t waiting = 0;
    pending[waiting++] = start;
    while (waiting > 0) {
        const std::uint32_t heap = pending[--waiting];
        if (!buckets.anyOpenBelow(heap))
            continue;
        // Until a point is taken, only a bucket's box is worth the test.
        const bool bucket = buckets.isBucket(heap);
        if (bucket || scan.best() != nullptr) {
            const LeafBuckets::Box& box = buckets.nodeBox(heap);
            if ((everyBoxFinite || finite(box)) && lowestScore(box, sphere, a, b, n) > scan.bestValue())
                continue;
        }
        if (!bucket) {
            // The tree's descent rules: each side includes the plane.
            const unsigned axis = buckets.axisOf(heap);
            const double v = buckets.split(heap);
            const bool left = lows[axis] <= v;
            const bool right = highs[axis] >= v;
            std::uint32_t nearer = 2 * heap + 1;
            std::uint32_t farther = 2 * heap + 2;
            bool nearerReached = left;
            bool fartherReached = right;
            if (buckets.centreIsRightOf(heap, sphere.centre)) {
                std::swap(nearer, farther);
                std::swap(nearerReached, fartherReached);
            }
            if (fartherReached)
                pending[waiting++] = farther;
            if (nearerReached)
                pending[waiting++] = nearer;
            continue;
        }
        const std::uint32_t place = buckets.bucketAt(heap);
        for (std::uint32_t i = buckets.first(place); i < buckets.last(place); ++i) {
            ReconNode* node = buckets.entry(i);
            const CGVertex& p = node->position;
            if (!sphere.holds(p))
                continue;
            // A point inside the closed box is one the walk reaches; one
            // outside it (rounding at the sphere's edge, far from the
            // origin) the walk may have passed by.
            if (!inBox(p))
                return nullptr;
            scan.consider(node, i, true);
        }
    }
    if (scan.best() == nullptr || !(scan.bestValue() < floor))
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
        if (ReconNode* found = buckets != nullptr ? pickInsideSphere(*buckets, a, b, n, quick) : nullptr)
            return found;
        // The list is emptied on every use.
        Nodes& candidates = scratch.candidates;
        // When the spheres hold nothing but the edge, every node is a
        // candidate, exactly as on the linear path.
        if (gatherNearCandidates(tree, edge, candidates)) {
            if (buckets != nullptr && !buckets->empty())
                return pickNearest(*buckets, a, b, n, scan);
            // A candidate's score is its squared distance from the edge's
            // midpoint plus a quarter of the edge's squared length.
            const double length = std::sqrt(squaredLength(b->position - a->position));
            return scanNearestFirst(nodes, tree, midpoint(a->position, b->position), 4.0 * length, 0, scan, scratch,
                                    buckets);
        }
        for (ReconNode* c : candidates)
            scan.consider(c);
        if (candidates.capacity() > kKeptCandidates)
            Nodes().swap(candidates);
        return scan.best();
    }
    return scanInFileOrder(nodes, 0, scan);
}
