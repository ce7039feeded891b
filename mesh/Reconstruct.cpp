#include "mesh/Reconstruct.h"

#include "search/CandidateIndex.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace {

// The smallest axis-aligned box around the positions added to it.
struct Bounds {
    CGVertex low = {0.0, 0.0, 0.0};
    CGVertex high = {0.0, 0.0, 0.0};
    bool empty = true;

    void add(const CGVertex& p)
    {
        if (empty) {
            low = high = p;
            empty = false;
        }
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
};

// What a run needs to know of where the nodes lie, from one pass over them.
struct Spread {
    // No distance between two nodes can overflow: that lets the driver skip
    // searches that are bound to fail.
    bool moderate = true;
    double largestExtent = 0.0;  // the longest side of the box around them
};

Spread spreadOf(const Nodes& nodes)
{
    constexpr double kLimit = 1e150;
    Spread spread;
    if (nodes.empty())
        return spread;
    Bounds box;
    for (const ReconNode* node : nodes) {
        const CGVertex& p = node->position;
        if (!(std::fabs(p.x) <= kLimit && std::fabs(p.y) <= kLimit && std::fabs(p.z) <= kLimit))
            spread.moderate = false;
        box.add(p);
    }
    spread.largestExtent = std::max({box.high.x - box.low.x, box.high.y - box.low.y, box.high.z - box.low.z});
    return spread;
}

// The places of points in an order that follows space: by cells of a
// 1024-per-side grid over their bounding box, the cells in Z order, equal
// cells in the given order. Every search walks a neighbourhood; with the
// records laid out like this it finds them in memory it has just touched
// instead of all over the heap. Each key carries its cell above its place,
// so the sort moves keys through memory in runs instead of looking each
// cell up by place, and one pass counts all three digits.
std::vector<std::uint64_t> spatialOrder(const std::vector<CGVertex>& points)
{
    Bounds box;
    for (const CGVertex& point : points)
        box.add(point);
    const CGVertex& low = box.low;
    const CGVertex& high = box.high;
    auto cell = [](double value, double from, double to) -> std::uint32_t {
        const double t = (value - from) / (to - from) * 1024.0;
        return t >= 0.0 && t < 1024.0 ? static_cast<std::uint32_t>(t) : t >= 1024.0 ? 1023u : 0u;
    };
    // Moves the ten bits of v three places apart, so that three such codes
    // interleave into one.
    auto dilate = [](std::uint32_t v) {
        v = (v | (v << 16)) & 0x030000FFu;
        v = (v | (v << 8)) & 0x0300F00Fu;
        v = (v | (v << 4)) & 0x030C30C3u;
        v = (v | (v << 2)) & 0x09249249u;
        return v;
    };
    constexpr int kDigits = 3;
    constexpr std::size_t kBuckets = 1024;
    std::vector<std::size_t> count(kDigits * (kBuckets + 1), 0);
    std::vector<std::uint64_t> keys(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CGVertex& p = points[i];
        const std::uint32_t code = dilate(cell(p.x, low.x, high.x)) | dilate(cell(p.y, low.y, high.y)) << 1 |
                                   dilate(cell(p.z, low.z, high.z)) << 2;
        keys[i] = std::uint64_t{code} << 32 | i;
        for (int d = 0; d < kDigits; ++d)
            ++count[d * (kBuckets + 1) + ((code >> (10 * d)) & 1023u) + 1];
    }
    std::vector<std::uint64_t> other(points.size());
    for (int d = 0; d < kDigits; ++d) {
        std::size_t* at = count.data() + d * (kBuckets + 1);
        for (std::size_t b = 0; b < kBuckets; ++b)
            at[b + 1] += at[b];
        const int shift = 32 + 10 * d;
        for (const std::uint64_t key : keys)
            other[at[(key >> shift) & 1023u]++] = key;
        keys.swap(other);
    }
    return keys;
}

double squaredDistance(const ReconNode* p, const ReconNode* q)
{
    return squaredLength(p->position - q->position);
}

// A corner for the seed triangle: the node that can join every corner
// chosen so far with the smallest value. Without a partner that is the
// nearest node that can join the seed (its partner); with one, the node
// with the smallest half sum of squared distances to both (the third
// corner), of those not before place first, which are known never to
// qualify. Strict < throughout, so equal values go to the node met first;
// the cheap distance test runs before the edge lookups. Nothing can be
// strictly below 0, so a scan that has found 0 is done.
class SeedCornerScan {
public:
    SeedCornerScan(const ReconNode* seed, const ReconNode* partner, std::size_t first)
        : seed_(seed), partner_(partner), first_(first)
    {
    }

    void consider(ReconNode* p)
    {
        if (p == seed_ || p == partner_ || p->index < first_)
            return;
        const double value = partner_ == nullptr ? squaredDistance(seed_, p)
                                                 : (squaredDistance(p, seed_) + squaredDistance(p, partner_)) * 0.5;
        if (value < best_ && canConnect(seed_, p) && (partner_ == nullptr || canConnect(partner_, p))) {
            best_ = value;
            corner_ = p;
        }
    }
    ReconNode* best() const { return corner_; }
    double bestValue() const { return best_; }
    bool done() const { return best_ == 0.0; }

private:
    const ReconNode* seed_;
    const ReconNode* partner_;  // null while the partner is sought
    std::size_t first_;
    ReconNode* corner_ = nullptr;
    double best_ = 1e300;
};

}  // namespace

Reconstruct::Reconstruct() = default;

Reconstruct::~Reconstruct()
{
    // The nodes, their edges and the search over them go together.
    clearNodes();
}

Surface Reconstruct::surface() const
{
    Surface result;
    result.positions.reserve(nodes.size());
    result.normals.reserve(nodes.size());
    for (const ReconNode* node : nodes) {
        result.positions.push_back(node->position);
        result.normals.push_back(node->normal);
    }
    result.faces.reserve(triangles.size());
    for (const Triangle& triangle : triangles)
        result.faces.push_back({triangle.source[0], triangle.source[1], triangle.source[2]});
    return result;
}

ReconNode* Reconstruct::makeNode(const CGVertex& position, const CGVector& normal, std::size_t index)
{
    return nodeStore_.make<ReconNode>(position, normal, index);
}

ReconNode* Reconstruct::addNode(const CGVertex& position, const CGVector& normal)
{
    ReconNode* node = makeNode(position, normal, nodes.size());
    nodes.push_back(node);
    return node;
}

void Reconstruct::clearNodes()
{
    // A tree over destroyed nodes would hand them to the next run's
    // searches; that run builds a new one instead.
    releaseIndex();
    nodes.clear();
    edgeStore_.release();
    nodeStore_.release();
    firstFreeHint_ = 0;
    seedSkip_.clear();
}

void Reconstruct::releaseIndex()
{
    index_.reset();
}

Edge* Reconstruct::newEdge(ReconNode* a, ReconNode* b)
{
    // The buckets count the points that can still take a triangle.
    if (index_ != nullptr && isClosed(a))
        index_->noteOpened(a);
    Edge* edge = edgeStore_.append(a, b);
    ++a->openEdgeCount;
    return edge;
}

Edge* Reconstruct::registerEdge(ReconNode* a, ReconNode* b)
{
    Edge* edge = findEdge(a, b);
    if (edge == nullptr) {
        edge = newEdge(a, b);
        edge->triangleCount = 1;
    } else if (edge->triangleCount != 2) {
        edge->triangleCount = 2;
        if (--a->openEdgeCount == 0 && index_ != nullptr)
            index_->noteClosed(a);
    }
    return edge;
}

void Reconstruct::setPoints(const std::vector<CGVertex>& positions, const std::vector<CGVector>& normals)
{
    assert(positions.size() == normals.size());
    assert(positions.size() <= std::numeric_limits<std::uint32_t>::max());
    clearNodes();
    // The records are made in an order that keeps points near each other in
    // space near each other in memory; nodes itself stays in the given order.
    nodes.assign(positions.size(), nullptr);
    const std::vector<std::uint64_t> order = spatialOrder(positions);
    // The places come in no order memory likes: asking for the points a
    // few records ahead hides most of the wait for each.
    constexpr std::size_t kAhead = 16;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k + kAhead < order.size()) {
            const auto ahead = static_cast<std::uint32_t>(order[k + kAhead]);
            __builtin_prefetch(&positions[ahead]);
            __builtin_prefetch(&normals[ahead]);
            __builtin_prefetch(&nodes[ahead], 1);
        }
        const auto i = static_cast<std::uint32_t>(order[k]);
        nodes[i] = makeNode(positions[i], normals[i], i);
    }
}

bool Reconstruct::triangulate(bool useKd)
{
    triangles.clear();
    // A closed surface has about two triangles per point, a little more on
    // scanned points; room for that up front spares copying the list as it
    // grows, and pages never written cost no memory.
    triangles.reserve(2 * nodes.size() + nodes.size() / 8);
    front.clear();

    // The search is chosen here, once for the run; the index builds its tree
    // and buckets as its kind needs (with no points there is nothing to
    // index, and the run ends at once).
    index_.reset();
    index_ =
        std::make_unique<CandidateIndex>(nodes, useKd ? CandidateIndex::Kind::kdTree : CandidateIndex::Kind::linear,
                                         progress, sphereShortcut, treeThreads);
    CandidateIndex& search = *index_;
    // A closed surface has two triangles per point, so their count measures
    // the run well enough; open patches and stray points end it early.
    if (progress != nullptr)
        progress->begin(Progress::Stage::Triangulating, 2 * std::uint64_t{nodes.size()});

    seedIndex_ = &search;
    const Spread spread = spreadOf(nodes);
    seedReach_ = spread.largestExtent / 1024.0;
    const bool moderate = spread.moderate;
    bool stopped = false;
    while (!stopped && findSeed()) {
        while (Edge* e = popFront()) {
            if (e->triangleCount == 2)
                continue;
            ReconNode* closing = nullptr;
            ReconNode* apex = findApex(e, closing);
            if (apex == nullptr)
                continue;
            const Vector direction = outwardDirection(e->from->position, e->to->position, apex);
            ReconNode* c = closing;
            // On an edge whose ends share a place every triangle has zero
            // area, so the search is bound to fail (when no distance can
            // overflow, the area test cannot be fooled); skipping it keeps
            // heaps of coincident points from costing a full scan per edge.
            if (c == nullptr && !(moderate && samePosition(e->from->position, e->to->position)))
                c = search.findCandidate(*e, direction);
            if (c != nullptr) {
                addTriangle(e->from, e->to, c);
                if (progress != nullptr) {
                    progress->set(triangles.size());
                    // A look every 256 triangles hears a stop at once and
                    // costs nothing measurable.
                    if ((triangles.size() & 255) == 0 && progress->stopped()) {
                        stopped = true;
                        break;
                    }
                }
            }
        }
        stopped = stopped || (progress != nullptr && progress->stopped());
    }
    seedIndex_ = nullptr;
    return !stopped;
}

bool Reconstruct::findSeed()
{
    // Only the first free node is tried: if no triangle can be built around
    // it, the run is over.
    while (firstFreeHint_ < nodes.size() && !nodes[firstFreeHint_]->isFree())
        ++firstFreeHint_;
    if (firstFreeHint_ == nodes.size())
        return false;
    ReconNode* s = nodes[firstFreeHint_];

    // In a run with the tree, the nearest nodes are found through it, with
    // the very answers the passes over all nodes give.
    SeedCornerScan partner(s, nullptr, 0);
    ReconNode* q = seedIndex_ != nullptr ? seedIndex_->scanNearest(s->position, seedReach_, 0, partner)
                                         : scanInFileOrder(nodes, 0, partner);
    if (q == nullptr)
        return false;

    // Nodes that can never join q are skipped for good: without this a hub
    // of coincident points is rescanned from the start for every seed.
    std::size_t& skip = seedSkip_[q];
    while (skip < nodes.size() && (nodes[skip] == q || !canConnect(q, nodes[skip])))
        ++skip;

    const CGVertex middle = midpoint(s->position, q->position);
    SeedCornerScan third(s, q, skip);
    ReconNode* r = seedIndex_ != nullptr ? seedIndex_->scanNearest(middle, seedReach_, skip, third)
                                         : scanInFileOrder(nodes, skip, third);
    if (r == nullptr)
        return false;

    addTriangle(s, q, r);
    front.push_back(findEdge(s, q));
    return true;
}

Edge* Reconstruct::popFront()
{
    if (front.empty())
        return nullptr;
    Edge* e = front.back();
    front.pop_back();
    return e;
}

ReconNode* Reconstruct::findApex(const Edge* e, ReconNode*& closing) const
{
    if (e->triangleCount != 1)
        return nullptr;
    closing = nullptr;
    ReconNode* first = nullptr;
    ReconNode* x = nullptr;
    // Every side exists in both directions, so x -> to exists exactly when
    // to -> x does: the ends of to's own edges answer for all the nodes
    // around from without reading each one's edges.
    constexpr std::size_t kNear = 16;
    const ReconNode* around[kNear];
    std::size_t aroundCount = 0;
    const bool listed = e->to->edges.size() <= kNear;
    if (listed)
        for (const Edge* g : e->to->edges)
            around[aroundCount++] = g->to;
    auto joined = [&](const ReconNode* node) {
        if (!listed)
            return findEdge(node, e->to) != nullptr;
        return std::find(around, around + aroundCount, node) != around + aroundCount;
    };
    for (const Edge* f : e->from->edges) {
        if (f == e || !joined(f->to))
            continue;
        if (first != nullptr) {
            x = f->to;
            break;
        }
        first = f->to;
    }
    if (x == nullptr)
        return first;
    // A second common neighbour: one that can still take a triangle on its
    // sides to both ends closes the gap without a search. Later common
    // neighbours are never looked at.
    if (canConnect(e->from, x) && canConnect(e->to, x)) {
        closing = x;
        return first;
    }
    if (canConnect(e->from, first) && canConnect(e->to, first)) {
        closing = first;
        return x;
    }
    if (isClosed(x))
        return x;
    if (isClosed(first))
        return first;
    return nullptr;
}

Vector Reconstruct::outwardDirection(CGVertex a, CGVertex b, const ReconNode* apex)
{
    const CGVertex t = apex->position;
    const CGVector d = b - a;
    const double dd = dot(d, d);
    // Both ends at one place: there is no line to measure across.
    if (dd == 0.0)
        return {};
    const double s = dot(t - a, d) / dd;
    const CGVertex foot = a + s * d;
    const CGVector v = foot - t;
    const double length = std::sqrt(dot(v, v));
    const double k = length != 0.0 ? 1.0 / length : 0.0;
    return {k * v.x, k * v.y, k * v.z};
}

bool Reconstruct::windsBackwards(const ReconNode* a, const ReconNode* b, const ReconNode* c)
{
    constexpr double kThird = 1.0 / 3.0;
    const CGVector sum = a->normal + b->normal + c->normal;
    const CGVector m = {sum.x * kThird, sum.y * kThird, sum.z * kThird};
    const CGVector u = a->position - b->position;
    const CGVector w = a->position - c->position;
    const CGVector f = {u.y * w.z - u.z * w.y, u.z * w.x - u.x * w.z, u.x * w.y - u.y * w.x};
    // A tie (degenerate triangle or normals that cancel) keeps the given order.
    return dot(f, m) < 0.0;
}

void Reconstruct::addTriangle(ReconNode* a, ReconNode* b, ReconNode* c)
{
    // Any corner may close on the way; the search's count of it is asked
    // for while the edges are looked up.
    if (index_ != nullptr) {
        index_->expectChange(a);
        index_->expectChange(b);
        index_->expectChange(c);
    }
    registerEdge(a, b);
    registerEdge(b, a);
    registerEdge(c, a);
    registerEdge(c, b);
    front.push_back(registerEdge(a, c));
    front.push_back(registerEdge(b, c));

    ReconNode* corners[3] = {a, b, c};
    if (windsBackwards(a, b, c))
        std::swap(corners[1], corners[2]);
    Triangle triangle;
    for (int i = 0; i < 3; ++i)
        triangle.source[i] = corners[i]->index;
    triangles.push_back(triangle);
}
