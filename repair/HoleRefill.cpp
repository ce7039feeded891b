#include "repair/HoleRefill.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"
#include "repair/TriangleIntersection.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// A new edge may be this many times the surface's median edge: enough to
// cross a hole left by removed faces, too short to bridge a gap in the
// samples that the shape really has.
constexpr double kLongestEdge = 3.0;

// The smallest angle a new face may have, as a cosine: below about 3
// degrees a face is a sliver that only a later flip could mend.
const double kThinnest = std::cos(3.0 * 3.14159265358979323846 / 180.0);

// The corner normals' summed cosines with a new face: about 60 degrees on
// average, so a face never turns across the surface.
constexpr double kLeastAgreement = 1.5;

// Candidates tried per edge, nearest circle first: past these the edge is
// left for the closing over the outline's own points.
constexpr std::size_t kMostTried = 8;

// The points no face uses, as nanoflann reads a data set.
struct FreePoints {
    const std::vector<CGVertex>& positions;
    std::vector<std::uint32_t> index;

    std::size_t kdtree_get_point_count() const { return index.size(); }
    double kdtree_get_pt(std::size_t i, std::size_t axis) const
    {
        const CGVertex& p = positions[index[i]];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const
    {
        return false;
    }
};

using FreeTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, FreePoints>, FreePoints, 3, std::uint32_t>;

struct EdgeState {
    std::uint32_t from = 0;  // where the one face's half-edge starts, while there is one face
    std::uint32_t uses = 0;
};

class Refill {
public:
    Refill(const Surface& surface, Faces& faces, FaceBoxTree& boxes, const EdgeTable& table);
    RefillCounts run();

private:
    // Whether a new face may run the edge from x to y.
    bool mayRun(std::uint32_t x, std::uint32_t y) const;
    void addFace(std::uint32_t a, std::uint32_t b, std::uint32_t p);
    void runEdge(std::uint32_t x, std::uint32_t y, std::uint32_t face);
    EdgeState state(std::uint32_t x, std::uint32_t y) const;
    void dropBoundary(std::uint32_t x, std::uint32_t y);

    const Surface& surface_;
    const std::vector<CGVertex>& positions_;
    Faces& faces_;
    FaceBoxTree& boxes_;                                  // not owned
    const EdgeTable& table_;                              // the edges before the refill
    std::unordered_map<std::uint64_t, EdgeState> edges_;  // the edges the refill gave a face
    std::vector<std::vector<std::uint32_t>> boundaryAt_;  // per point: other ends of one-face edges
    std::vector<bool> used_;
    FreePoints free_;
    double longest_ = 0.0;
    std::deque<std::pair<std::uint32_t, std::uint32_t>> front_;  // face half-edges with the hole beyond
    std::unordered_map<std::uint64_t, std::uint32_t> faceOn_;    // the one face on each boundary edge
    RefillCounts counts_;
};

Refill::Refill(const Surface& surface, Faces& faces, FaceBoxTree& boxes, const EdgeTable& table)
    : surface_(surface),
      positions_(surface.positions),
      faces_(faces),
      boxes_(boxes),
      table_(table),
      free_{surface.positions, {}}
{
    used_.assign(positions_.size(), false);
    boundaryAt_.resize(positions_.size());
    std::vector<double> lengths;
    lengths.reserve(faces.size());
    for (const Face& face : faces) {
        for (std::uint32_t corner : face)
            used_[corner] = true;
        lengths.push_back(length(positions_[face[1]] - positions_[face[0]]));
    }
    for (std::size_t e = 0; e < table_.edgeCount(); ++e) {
        if (table_.uses(e) != 1)
            continue;
        const std::uint32_t x = table_.lower(e), y = table_.higher(e);
        boundaryAt_[x].push_back(y);
        boundaryAt_[y].push_back(x);
        faceOn_[edgeKey(x, y)] = EdgeTable::faceOf(table_.use(e, 0));
    }
    if (!lengths.empty()) {
        std::nth_element(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2),
                         lengths.end());
        longest_ = kLongestEdge * lengths[lengths.size() / 2];
    }
    for (std::uint32_t p = 0; p < positions_.size(); ++p)
        if (!used_[p])
            free_.index.push_back(p);
}

EdgeState Refill::state(std::uint32_t x, std::uint32_t y) const
{
    const auto found = edges_.find(edgeKey(x, y));
    if (found != edges_.end())
        return found->second;
    EdgeState before;
    const std::size_t e = table_.find(x, y);
    if (e != table_.edgeCount()) {
        before.uses = table_.uses(e);
        before.from = EdgeTable::from(faces_, table_.use(e, 0));
    }
    return before;
}

void Refill::runEdge(std::uint32_t x, std::uint32_t y, std::uint32_t face)
{
    EdgeState now = state(x, y);
    ++now.uses;
    edges_[edgeKey(x, y)] = now;
    if (now.uses == 1) {
        edges_[edgeKey(x, y)].from = x;
        boundaryAt_[x].push_back(y);
        boundaryAt_[y].push_back(x);
        faceOn_[edgeKey(x, y)] = face;
    } else if (now.uses == 2) {
        dropBoundary(x, y);
        faceOn_.erase(edgeKey(x, y));
    }
}

void Refill::dropBoundary(std::uint32_t x, std::uint32_t y)
{
    for (const auto& [at, other] : {std::make_pair(x, y), std::make_pair(y, x)}) {
        auto& list = boundaryAt_[at];
        const auto it = std::find(list.begin(), list.end(), other);
        if (it != list.end())
            list.erase(it);
    }
}

bool Refill::mayRun(std::uint32_t x, std::uint32_t y) const
{
    const EdgeState now = state(x, y);
    // no face there yet, or one running it the other way
    return now.uses == 0 || (now.uses == 1 && now.from == y);
}

void Refill::addFace(std::uint32_t a, std::uint32_t b, std::uint32_t p)
{
    const auto f = static_cast<std::uint32_t>(faces_.size());
    faces_.push_back({b, a, p});
    if (!used_[p]) {
        used_[p] = true;
        ++counts_.pointsUsed;
    }
    ++counts_.facesAdded;
    runEdge(b, a, f);
    const bool newAp = state(a, p).uses == 0;
    const bool newPb = state(p, b).uses == 0;
    runEdge(a, p, f);
    runEdge(p, b, f);
    if (newAp)
        front_.push_back({a, p});
    if (newPb)
        front_.push_back({p, b});
}

RefillCounts Refill::run()
{
    // one entry in faceOn_ for each open edge there is
    if (faces_.empty() || faceOn_.empty())
        return counts_;
    FreeTree tree(3, free_, nanoflann::KDTreeSingleIndexAdaptorParams(16));

    for (const auto& [key, face] : faceOn_) {
        const auto lo = static_cast<std::uint32_t>(key >> 32), hi = static_cast<std::uint32_t>(key);
        const std::uint32_t from = state(lo, hi).from, to = from == lo ? hi : lo;
        front_.push_back({from, to});
    }
    // the map's order is no order: sort so every run grows the same way
    std::sort(front_.begin(), front_.end());

    std::vector<std::pair<std::uint32_t, double>> near;
    std::vector<std::pair<double, std::uint32_t>> candidates;
    std::vector<std::uint32_t> crossing;
    while (!front_.empty()) {
        // plain names, not a structured binding, so the lambda below may use them
        const std::uint32_t a = front_.front().first, b = front_.front().second;
        front_.pop_front();
        const EdgeState on = state(a, b);
        if (on.uses != 1 || on.from != a)
            continue;
        const Face& beside = faces_[faceOn_[edgeKey(a, b)]];
        const CGVector n = faceCross(positions_, beside);
        const CGVector ab = positions_[b] - positions_[a];
        const double abLength = length(ab);
        if (!(abLength > 0.0) || !(length(n) > 0.0))
            continue;
        const CGVector out = cross(ab, n);  // across the edge, away from the face beside it
        const CGVertex mid = midpoint(positions_[a], positions_[b]);

        candidates.clear();
        const auto consider = [&](std::uint32_t p) {
            if (p == a || p == b)
                return;
            const CGVector toP = positions_[p] - mid;
            if (!(dot(toP, out) > 0.0))
                return;
            if (!mayRun(a, p) || !mayRun(p, b))
                return;
            // a used point joins only through an edge it already has, or it
            // would pinch the surface there
            if (used_[p] && state(a, p).uses == 0 && state(p, b).uses == 0)
                return;
            if (length(positions_[p] - positions_[a]) > longest_ || length(positions_[p] - positions_[b]) > longest_)
                return;
            const Face face = {b, a, p};
            const CGVector m = faceCross(positions_, face);
            if (!(dot(m, n) > 0.0) || faceAgreement(surface_, face) < kLeastAgreement ||
                smallestAngleCosine(positions_, face) > kThinnest)
                return;
            // the circle through a, b and p, measured along the way out:
            // the smallest is the first a circle growing from the edge meets
            const CGVector ap = positions_[p] - positions_[a];
            const CGVector w = cross(ab, ap);
            const double ww = dot(w, w);
            const CGVector toCentre = (cross(w, ab) * dot(ap, ap) + cross(ap, w) * dot(ab, ab)) * (1.0 / (2.0 * ww));
            const CGVertex centre = positions_[a] + toCentre;
            candidates.push_back({dot(centre - mid, out) / length(out), p});
        };
        for (const std::uint32_t end : {a, b}) {
            if (boundaryAt_[end].empty())
                continue;
            const std::vector<std::uint32_t> ends = boundaryAt_[end];  // addFace may change the list
            for (std::uint32_t p : ends)
                consider(p);
        }
        if (!free_.index.empty()) {
            near.clear();
            const double query[3] = {mid.x, mid.y, mid.z};
            const double reach = std::min(longest_, 2.0 * abLength);
            tree.radiusSearch(query, reach * reach, near, nanoflann::SearchParams(32, 0.0, false));
            for (const auto& [i, distance] : near)
                if (!used_[free_.index[i]])
                    consider(free_.index[i]);
        }
        if (candidates.empty())
            continue;
        std::sort(candidates.begin(), candidates.end());
        if (candidates.size() > kMostTried)
            candidates.resize(kMostTried);
        for (const auto& [offset, p] : candidates) {
            const Face face = {b, a, p};
            // Mostly the first candidate is taken: a query over its own box
            // finds fewer faces than one over every candidate's.
            const Box box = boxOf(positions_, face);
            crossing.clear();
            boxes_.query(box, crossing);
            bool clear = true;
            // the tree's box of a face the refill never changes is its own
            for (std::uint32_t k : crossing)
                if (box.meets(boxes_.faceBox(k)) && facesIntersect(positions_, face, faces_[k])) {
                    clear = false;
                    break;
                }
            if (!clear)
                continue;
            addFace(a, b, p);
            boxes_.refresh(static_cast<std::uint32_t>(faces_.size() - 1));
            // an ear closed at a or b leaves a new edge there to go on from
            break;
        }
    }
    return counts_;
}

}  // namespace

RefillCounts refillHoles(const Surface& surface, Faces& faces, FaceBoxTree& boxes)
{
    const EdgeTable table(faces, surface.positions.size());
    return refillHoles(surface, faces, boxes, table);
}

RefillCounts refillHoles(const Surface& surface, Faces& faces, FaceBoxTree& boxes, const EdgeTable& table)
{
    return Refill(surface, faces, boxes, table).run();
}
