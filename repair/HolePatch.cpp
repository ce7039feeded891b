#include "repair/HolePatch.h"

#include "repair/BatchChanges.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// Rings of faces taken around an outline, tried from the fewest: one ring
// mostly frees a slit's two sides, more give a twisted loop a rim that
// lies flat.
constexpr int kMostRings = 4;

// Every point of a patch faces within 60 degrees of the patch's plane, so
// that the plane shows the surface there without folding it.
constexpr double kLeastFacing = 0.5;

// A patch past this many points is no longer a small region around a
// hole; the plane would not show it.
constexpr std::size_t kMostPoints = 1500;

// A piece of faces no bigger than this, joined to nothing around it, that
// lies across a patch is taken into it: the closings sometimes leave such
// a closed scrap on top of the sheet in a hole.
constexpr std::size_t kMostScrapFaces = 64;

// Scraps taken into one region before it is given up.
constexpr int kMostScraps = 4;

struct Point2 {
    double x = 0.0;
    double y = 0.0;
};

double orient(const Point2& a, const Point2& b, const Point2& c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Whether r lies in the box of p and q: on the segment p-q when the three
// are on one line.
bool onSegment(const Point2& p, const Point2& q, const Point2& r)
{
    return std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) && std::min(p.y, q.y) <= r.y &&
           r.y <= std::max(p.y, q.y);
}

// Whether the closed segments a-b and c-d have a point in common, given
// o1 = orient(a, b, c) and o2 = orient(a, b, d).
bool segmentsMeet(const Point2& a, const Point2& b, const Point2& c, const Point2& d, double o1, double o2)
{
    // c and d strictly on one side: only a or b on the line through c and
    // d, between them, can meet it; most pairs end here
    if ((o1 > 0.0 && o2 > 0.0) || (o1 < 0.0 && o2 < 0.0))
        return (onSegment(c, d, a) && orient(c, d, a) == 0.0) || (onSegment(c, d, b) && orient(c, d, b) == 0.0);
    const double o3 = orient(c, d, a), o4 = orient(c, d, b);
    if (((o1 > 0.0 && o2 < 0.0) || (o1 < 0.0 && o2 > 0.0)) && ((o3 > 0.0 && o4 < 0.0) || (o3 < 0.0 && o4 > 0.0)))
        return true;
    return (o1 == 0.0 && onSegment(a, b, c)) || (o2 == 0.0 && onSegment(a, b, d)) ||
           (o3 == 0.0 && onSegment(c, d, a)) || (o4 == 0.0 && onSegment(c, d, b));
}

bool segmentsMeet(const Point2& a, const Point2& b, const Point2& c, const Point2& d)
{
    return segmentsMeet(a, b, c, d, orient(a, b, c), orient(a, b, d));
}

// Whether p lies strictly inside the polygon (crossings of a ray along +x).
bool insidePolygon(const std::vector<Point2>& polygon, const Point2& p)
{
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Point2& a = polygon[i];
        const Point2& b = polygon[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
            inside = !inside;
    }
    return inside;
}

// Whether the polygon runs counter-clockwise and no two of its sides meet
// but neighbours at their shared corner.
bool simpleCounterClockwise(const std::vector<Point2>& polygon)
{
    const std::size_t m = polygon.size();
    double area = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const Point2& a = polygon[i];
        const Point2& b = polygon[(i + 1) % m];
        area += a.x * b.y - a.y * b.x;
    }
    if (!(area > 0.0))
        return false;
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = i + 2; j < m; ++j)
            if ((j + 1) % m != i && segmentsMeet(polygon[i], polygon[(i + 1) % m], polygon[j], polygon[(j + 1) % m]))
                return false;
    return true;
}

using Triangle = std::array<std::uint32_t, 3>;

// The constrained Delaunay triangulation of a simple polygon, its corners
// counter-clockwise as the first `rim` points, and the points strictly
// inside it: a front that starts as the rim and advances edge by edge,
// each edge taking the point it sees whose circle on the edge's inner
// side the growing circle meets first, and no new edge is among the taken
// ones (first * points + second, both ways). Empty when the front gets
// stuck, as rounding on a nearly straight rim can make it.
std::vector<Triangle> triangulate(const std::vector<Point2>& points, std::uint32_t rim,
                                  const std::unordered_set<std::uint64_t>& taken)
{
    const auto n = static_cast<std::uint32_t>(points.size());
    const auto key = [n](std::uint32_t a, std::uint32_t b) { return std::uint64_t{a} * n + b; };
    // The front as a list to read through and, by key, where each edge is
    // in it, so that an edge leaves it in constant time.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> front;
    std::unordered_map<std::uint64_t, std::uint32_t> frontPlace;
    const auto onFront = [&](std::uint32_t a, std::uint32_t b) { return frontPlace.count(key(a, b)) != 0; };
    const auto addFront = [&](std::uint32_t a, std::uint32_t b) {
        if (frontPlace.emplace(key(a, b), static_cast<std::uint32_t>(front.size())).second)
            front.push_back({a, b});
    };
    const auto dropFront = [&](std::uint32_t a, std::uint32_t b) {
        const auto found = frontPlace.find(key(a, b));
        if (found == frontPlace.end())
            return false;
        const std::uint32_t place = found->second;
        frontPlace.erase(found);
        if (place + 1 != front.size()) {
            front[place] = front.back();
            frontPlace[key(front[place].first, front[place].second)] = place;
        }
        front.pop_back();
        return true;
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> todo;
    std::vector<std::uint32_t> degree(n, 0);  // front edges at each point
    std::vector<bool> reached(n, false);      // on the front now or before
    // the points still open, in no order, and where each is among them
    std::vector<std::uint32_t> live(n), livePlace(n);
    for (std::uint32_t p = 0; p < n; ++p)
        live[p] = livePlace[p] = p;
    for (std::uint32_t i = 0; i < rim; ++i) {
        const std::uint32_t j = (i + 1) % rim;
        addFront(i, j);
        ++degree[i];
        ++degree[j];
        reached[i] = true;
    }
    for (std::uint32_t i = rim; i-- > 0;)
        todo.push_back({i, (i + 1) % rim});

    // a point the triangles have closed around is behind the front for good
    const auto open = [&](std::uint32_t p) { return !reached[p] || degree[p] > 0; };
    const auto dropIfClosed = [&](std::uint32_t p) {
        if (open(p) || livePlace[p] == n)
            return;
        const std::uint32_t last = live.back();
        live[livePlace[p]] = last;
        livePlace[last] = livePlace[p];
        livePlace[p] = n;
        live.pop_back();
    };
    const auto seen = [&](std::uint32_t from, std::uint32_t p) {
        const Point2& a = points[from];
        const Point2& b = points[p];
        // orient(a, b, x) as it reads, its first differences taken once
        const double bx = b.x - a.x, by = b.y - a.y;
        for (const auto& [c, d] : front) {
            if (c == from || d == from || c == p || d == p)
                continue;
            const Point2& pc = points[c];
            const Point2& pd = points[d];
            const double o1 = bx * (pc.y - a.y) - by * (pc.x - a.x);
            const double o2 = bx * (pd.y - a.y) - by * (pd.x - a.x);
            // c and d strictly on one side, and neither a nor b on c-d's
            // box: the segments cannot meet, as most do not
            if (((o1 > 0.0 && o2 > 0.0) || (o1 < 0.0 && o2 < 0.0)) && !onSegment(pc, pd, a) && !onSegment(pc, pd, b))
                continue;
            if (segmentsMeet(a, b, pc, pd, o1, o2))
                return false;
        }
        return true;
    };

    std::vector<Triangle> made;
    std::vector<std::pair<double, std::uint32_t>> candidates;
    std::vector<std::uint32_t> ahead;  // open points on the edge's line or past it, inward
    const std::size_t expected = 2 * static_cast<std::size_t>(n) - rim - 2;
    while (!todo.empty()) {
        const auto [a, b] = todo.back();
        todo.pop_back();
        if (!onFront(a, b))
            continue;
        if (made.size() >= expected)
            return {};
        const Point2& pa = points[a];
        const Point2& pb = points[b];
        const Point2 mid{0.5 * (pa.x + pb.x), 0.5 * (pa.y + pb.y)};
        const Point2 inward{pa.y - pb.y, pb.x - pa.x};  // the left of a->b, where the region is
        // how far inward of the edge's middle lies the centre of the circle
        // through a, b and the point
        const auto offsetOf = [&](const Point2& pp) {
            const double bx = pb.x - pa.x, by = pb.y - pa.y, cx = pp.x - pa.x, cy = pp.y - pa.y;
            const double d = 2.0 * (bx * cy - by * cx);
            const double ux = (cy * (bx * bx + by * by) - by * (cx * cx + cy * cy)) / d;
            const double uy = (bx * (cx * cx + cy * cy) - cx * (bx * bx + by * by)) / d;
            return (pa.x + ux - mid.x) * inward.x + (pa.y + uy - mid.y) * inward.y;
        };
        candidates.clear();
        ahead.clear();
        bool unordered = false;  // an offset that is no number
        std::size_t least = 0;
        for (const std::uint32_t p : live) {
            if (p == a || p == b)
                continue;
            const double side = orient(pa, pb, points[p]);
            if (side >= 0.0)
                ahead.push_back(p);
            if (!(side > 0.0))
                continue;
            const double offset = offsetOf(points[p]);
            unordered = unordered || std::isnan(offset);
            candidates.push_back({offset, p});
            if (candidates.back() < candidates[least])
                least = candidates.size() - 1;
        }
        // A sort of offsets that are no number depends on the order they
        // come in: then they come in the points' order, as they always did.
        if (unordered) {
            candidates.clear();
            for (std::uint32_t p = 0; p < n; ++p)
                if (p != a && p != b && open(p) && orient(pa, pb, points[p]) > 0.0)
                    candidates.push_back({offsetOf(points[p]), p});
        }
        // Mostly the nearest circle's point is taken: the rest are sorted
        // only when it is not.
        std::uint32_t chosen = n;
        for (std::size_t tried = 0; tried < candidates.size(); ++tried) {
            if (tried == 0 && !unordered) {
                std::swap(candidates[0], candidates[least]);
            } else if (tried == (unordered ? 0 : 1)) {
                std::sort(candidates.begin() + static_cast<std::ptrdiff_t>(unordered ? 0 : 1), candidates.end());
            }
            const std::uint32_t p = candidates[tried].second;
            if ((taken.count(key(a, p)) != 0 && !onFront(p, a)) || (taken.count(key(p, b)) != 0 && !onFront(b, p)))
                continue;
            if (!seen(a, p) || !seen(b, p))
                continue;
            bool empty = true;
            for (std::size_t i = 0; i < ahead.size() && empty; ++i) {
                const std::uint32_t q = ahead[i];
                if (q != p && orient(pb, points[p], points[q]) >= 0.0 && orient(points[p], pa, points[q]) >= 0.0)
                    empty = false;
            }
            if (empty) {
                chosen = p;
                break;
            }
        }
        if (chosen == n)
            return {};
        made.push_back({a, b, chosen});
        dropFront(a, b);
        --degree[a];
        --degree[b];
        reached[chosen] = true;
        for (const auto& [x, y] : {std::make_pair(a, chosen), std::make_pair(chosen, b)}) {
            if (dropFront(y, x)) {
                --degree[x];
                --degree[y];
            } else {
                addFront(x, y);
                ++degree[x];
                ++degree[y];
                todo.push_back({x, y});
            }
        }
        for (const std::uint32_t p : {a, b, chosen})
            dropIfClosed(p);
    }
    if (made.size() != expected)
        return {};
    return made;
}

// What one outline's patching would do, worked out without changing any
// face, and what it read to decide: while no later change touches that,
// it holds as if it had been worked out after them.
struct PatchPlan {
    enum class Outcome { AlreadyClosed, LeftOpen, Rebuilt };
    Outcome outcome = Outcome::LeftOpen;
    std::vector<std::uint32_t> region;  // the faces that go
    std::vector<Face> made;
    std::uint64_t pointsUsed = 0;
    // made ahead of plans carried out before it, so it keeps what it read
    bool ahead = false;
    std::vector<std::uint32_t> read;  // points whose faces it looked at
    Box asked;                        // around every box asked of the tree
    bool askedAny = false;
    // a new face met more than one face outside: which one came first
    // hangs on the tree's order, which a rebuild of the tree changes
    bool orderMatters = false;
};

// What one planner marks as it goes: a thread's own.
struct PlanScratch {
    std::vector<std::uint32_t> pointMark;
    std::vector<std::uint32_t> regionPointMark;
    std::vector<std::uint32_t> faceMark;
    std::uint32_t mark = 0;
    std::uint32_t blocker = kNoFace;  // a face outside a new face would meet
};

class Patcher {
public:
    Patcher(const Surface& surface, Faces& faces, FaceBoxTree& boxes);

    // How the faces around the outline would be rebuilt, trying wider
    // regions until one can be; changes nothing, so two plans may be made
    // at once on two threads.
    // Where the plan is made ahead of others carried out before it, it
    // keeps the points it read.
    PatchPlan plan(const std::vector<std::uint32_t>& outline, PlanScratch& scratch, bool ahead) const;

    // Carries a plan out; false when it left the outline open.
    bool commit(const PatchPlan& plan);

    // Scratch fit for planning over the faces as they are now.
    void prepare(PlanScratch& scratch) const;

    // Drops the faces that were replaced; the counts of all the patches.
    PatchCounts finish();

private:
    // Whether the region's faces could be replaced, and if so how, in the
    // plan. When a new face would meet a face outside, that face is the
    // scratch's blocker.
    bool rebuild(const std::vector<std::uint32_t>& region, PlanScratch& scratch, PatchPlan& plan) const;
    // Adds to the region the small piece the face belongs to, when that
    // piece shares no point with the region; false when it cannot.
    bool takeScrap(std::uint32_t face, std::vector<std::uint32_t>& region, std::uint32_t regionMark,
                   PlanScratch& scratch, PatchPlan& plan) const;
    template <class Visit>
    void forLiveFacesAt(std::uint32_t point, PatchPlan& plan, Visit&& visit) const;
    bool hasLiveFace(std::uint32_t point, PatchPlan& plan) const;

    const Surface& surface_;
    const std::vector<CGVertex>& positions_;
    Faces& faces_;
    FaceBoxTree& boxes_;                  // not owned
    std::vector<std::uint32_t> firstAt_;  // the faces at each point as the patching found them
    std::vector<std::uint32_t> facesAt_;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> addedAt_;  // the faces patches made
    std::vector<bool> dead_;
    std::vector<std::uint32_t> unused_;  // points no face used when the patching began, by x
    PatchCounts counts_;
};

Patcher::Patcher(const Surface& surface, Faces& faces, FaceBoxTree& boxes)
    : surface_(surface), positions_(surface.positions), faces_(faces), boxes_(boxes)
{
    const std::size_t pointCount = positions_.size();
    firstAt_.assign(pointCount + 1, 0);
    for (const Face& face : faces_)
        for (std::uint32_t corner : face)
            ++firstAt_[corner + 1];
    for (std::size_t p = 0; p < pointCount; ++p)
        firstAt_[p + 1] += firstAt_[p];
    facesAt_.resize(firstAt_[pointCount]);
    std::vector<std::uint32_t> fill(firstAt_.begin(), firstAt_.end() - 1);
    for (std::uint32_t f = 0; f < faces_.size(); ++f)
        for (std::uint32_t corner : faces_[f])
            facesAt_[fill[corner]++] = f;
    for (std::uint32_t p = 0; p < pointCount; ++p)
        if (firstAt_[p] == firstAt_[p + 1])
            unused_.push_back(p);
    // by x, so a patch reads only the slab of them its rim spans
    std::sort(unused_.begin(), unused_.end(), [this](std::uint32_t a, std::uint32_t b) {
        return std::make_pair(positions_[a].x, a) < std::make_pair(positions_[b].x, b);
    });
    dead_.assign(faces_.size(), false);
}

void Patcher::prepare(PlanScratch& scratch) const
{
    scratch.pointMark.resize(positions_.size(), 0);
    scratch.regionPointMark.resize(positions_.size(), 0);
    // faces added since come in unmarked
    scratch.faceMark.resize(faces_.size(), 0);
}

template <class Visit>
void Patcher::forLiveFacesAt(std::uint32_t point, PatchPlan& plan, Visit&& visit) const
{
    if (plan.ahead)
        plan.read.push_back(point);
    for (std::uint32_t i = firstAt_[point]; i < firstAt_[point + 1]; ++i)
        if (!dead_[facesAt_[i]])
            visit(facesAt_[i]);
    const auto added = addedAt_.find(point);
    if (added != addedAt_.end())
        for (std::uint32_t f : added->second)
            if (!dead_[f])
                visit(f);
}

bool Patcher::hasLiveFace(std::uint32_t point, PatchPlan& plan) const
{
    bool any = false;
    forLiveFacesAt(point, plan, [&any](std::uint32_t) { any = true; });
    return any;
}

PatchPlan Patcher::plan(const std::vector<std::uint32_t>& outline, PlanScratch& scratch, bool ahead) const
{
    PatchPlan plan;
    plan.ahead = ahead;
    // A patch around a hole nearby may have rebuilt this one too.
    std::size_t stillOpen = 0;
    for (std::size_t k = 0; k < outline.size(); ++k) {
        const std::uint32_t x = outline[k], y = outline[(k + 1) % outline.size()];
        int sharing = 0;
        forLiveFacesAt(x, plan, [&](std::uint32_t f) {
            for (std::uint32_t corner : faces_[f])
                sharing += corner == y;
        });
        stillOpen += sharing == 1;
    }
    if (stillOpen == 0) {
        plan.outcome = PatchPlan::Outcome::AlreadyClosed;
        return plan;
    }
    if (stillOpen < outline.size())
        return plan;
    std::vector<std::uint32_t> ring = outline;
    std::vector<std::uint32_t> region, next;
    ++scratch.mark;
    const std::uint32_t regionMark = scratch.mark;
    for (std::uint32_t p : outline)
        scratch.regionPointMark[p] = regionMark;
    for (int rings = 1; rings <= kMostRings; ++rings) {
        next.clear();
        for (std::uint32_t p : ring)
            forLiveFacesAt(p, plan, [&](std::uint32_t f) {
                if (scratch.faceMark[f] == regionMark)
                    return;
                scratch.faceMark[f] = regionMark;
                region.push_back(f);
                for (std::uint32_t corner : faces_[f])
                    if (scratch.regionPointMark[corner] != regionMark) {
                        scratch.regionPointMark[corner] = regionMark;
                        next.push_back(corner);
                    }
            });
        ring.swap(next);
        for (int scraps = 0;; ++scraps) {
            if (rebuild(region, scratch, plan)) {
                plan.outcome = PatchPlan::Outcome::Rebuilt;
                plan.region = region;
                return plan;
            }
            if (scratch.blocker == kNoFace || scraps == kMostScraps ||
                !takeScrap(scratch.blocker, region, regionMark, scratch, plan))
                break;
        }
    }
    return plan;
}

bool Patcher::takeScrap(std::uint32_t face, std::vector<std::uint32_t>& region, std::uint32_t regionMark,
                        PlanScratch& scratch, PatchPlan& plan) const
{
    std::vector<std::uint32_t>& faceMark = scratch.faceMark;
    ++scratch.mark;
    const std::uint32_t scrapMark = scratch.mark;
    std::vector<std::uint32_t> scrap{face}, stack{face};
    faceMark[face] = scrapMark;
    bool joined = false;
    while (!stack.empty() && !joined && scrap.size() <= kMostScrapFaces) {
        const std::uint32_t f = stack.back();
        stack.pop_back();
        for (std::uint32_t corner : faces_[f]) {
            joined = joined || scratch.regionPointMark[corner] == regionMark;
            forLiveFacesAt(corner, plan, [&](std::uint32_t g) {
                if (faceMark[g] == regionMark) {
                    joined = true;
                } else if (faceMark[g] != scrapMark) {
                    faceMark[g] = scrapMark;
                    scrap.push_back(g);
                    stack.push_back(g);
                }
            });
        }
    }
    const bool taken = !joined && stack.empty() && scrap.size() <= kMostScrapFaces;
    for (std::uint32_t f : scrap)
        faceMark[f] = taken ? regionMark : 0;
    if (taken)
        region.insert(region.end(), scrap.begin(), scrap.end());
    return taken;
}

bool Patcher::rebuild(const std::vector<std::uint32_t>& region, PlanScratch& scratch, PatchPlan& plan) const
{
    std::vector<std::uint32_t>& faceMark = scratch.faceMark;
    std::vector<std::uint32_t>& pointMark = scratch.pointMark;
    scratch.blocker = kNoFace;
    const std::uint32_t inRegion = faceMark[region.front()];
    // The rim: the region's half-edges whose other side is a face outside it.
    std::unordered_map<std::uint32_t, std::uint32_t> rimNext;
    std::vector<std::uint32_t> points;
    ++scratch.mark;
    const std::uint32_t seenMark = scratch.mark;
    for (std::uint32_t f : region) {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t x = faces_[f][k], y = faces_[f][(k + 1) % 3];
            if (pointMark[x] != seenMark) {
                pointMark[x] = seenMark;
                points.push_back(x);
            }
            int inside = 0, outside = 0;
            bool against = false;
            forLiveFacesAt(x, plan, [&](std::uint32_t g) {
                const Face& other = faces_[g];
                for (int j = 0; j < 3; ++j) {
                    const std::uint32_t u = other[j], w = other[(j + 1) % 3];
                    if ((u == x && w == y) || (u == y && w == x)) {
                        if (faceMark[g] == inRegion) {
                            ++inside;
                        } else {
                            ++outside;
                            against = u == y;
                        }
                    }
                }
            });
            if (outside == 0)
                continue;
            if (outside > 1 || inside > 1 || !against || !rimNext.emplace(x, y).second)
                return false;
        }
    }
    if (rimNext.empty() || points.size() > kMostPoints)
        return false;
    std::vector<std::uint32_t> rim;
    // from the least point, so the walk is the same every run
    const std::uint32_t start = std::min_element(rimNext.begin(), rimNext.end())->first;
    for (std::uint32_t at = start;;) {
        rim.push_back(at);
        const auto found = rimNext.find(at);
        if (found == rimNext.end() || rim.size() > rimNext.size())
            return false;
        at = found->second;
        if (at == start)
            break;
    }
    if (rim.size() != rimNext.size())
        return false;
    ++scratch.mark;
    const std::uint32_t rimMark = scratch.mark;
    for (std::uint32_t p : rim)
        pointMark[p] = rimMark;
    // A point inside the rim with a face outside the region pinches it.
    for (std::uint32_t p : points) {
        if (pointMark[p] == rimMark)
            continue;
        bool outside = false;
        forLiveFacesAt(p, plan, [&](std::uint32_t g) { outside = outside || faceMark[g] != inRegion; });
        if (outside)
            return false;
    }

    // The plane the points' normals agree on, or the faces' where the
    // points have none.
    const bool normals = surface_.normals.size() == positions_.size();
    const auto unit = [](const CGVector& v) {
        const double l = length(v);
        return l > 0.0 && std::isfinite(l) ? v * (1.0 / l) : CGVector{};
    };
    CGVector sum{};
    for (std::uint32_t p : rim)
        sum = sum + (positions_[p] - CGVertex{});
    const CGVertex origin = CGVertex{} + sum * (1.0 / static_cast<double>(rim.size()));
    double radius = 0.0;
    for (std::uint32_t p : rim)
        radius = std::max(radius, length(positions_[p] - origin));
    // The plane the points' normals agree on; failing that, the one the
    // rim spans most area on, where the points need only not face away.
    CGVector normalSum{}, rimArea{};
    for (std::uint32_t p : points)
        normalSum = normalSum + (normals ? unit(surface_.normals[p]) : CGVector{});
    for (std::size_t i = 0; i < rim.size(); ++i)
        rimArea = rimArea + cross(positions_[rim[i]] - origin, positions_[rim[(i + 1) % rim.size()]] - origin);
    CGVector up{}, u{}, v{};
    double leastFacing = kLeastFacing;
    std::vector<Point2> polygon;
    const auto onPlane = [&](std::uint32_t p) {
        const CGVector d = positions_[p] - origin;
        return Point2{dot(d, u), dot(d, v)};
    };
    const auto facesUp = [&](std::uint32_t p) {
        if (!normals)
            return true;
        const CGVector n = unit(surface_.normals[p]);
        return !(length(n) > 0.0) || dot(n, up) >= leastFacing;
    };
    bool flat = false;
    for (int way = 0; way < 2 && !flat; ++way) {
        up = unit(way == 0 ? normalSum : rimArea);
        leastFacing = way == 0 ? kLeastFacing : 0.0;
        flat = length(up) > 0.0;
        for (std::uint32_t p : rim)
            flat = flat && (way == 1 || facesUp(p));
        if (!flat)
            continue;
        const CGVector across = std::fabs(up.x) <= std::fabs(up.y) && std::fabs(up.x) <= std::fabs(up.z)
                                    ? CGVector{1, 0, 0}
                                : std::fabs(up.y) <= std::fabs(up.z) ? CGVector{0, 1, 0}
                                                                     : CGVector{0, 0, 1};
        u = unit(cross(up, across));
        v = cross(up, u);
        polygon.clear();
        for (std::uint32_t p : rim)
            polygon.push_back(onPlane(p));
        flat = simpleCounterClockwise(polygon);
    }

    // The points inside: the region's own and any unused point there.
    std::vector<std::pair<Point2, std::uint32_t>> inner;
    if (!flat)
        return false;
    for (std::uint32_t p : points)
        if (pointMark[p] != rimMark && facesUp(p))
            inner.push_back({onPlane(p), p});
    const auto slab = std::lower_bound(unused_.begin(), unused_.end(), origin.x - radius,
                                       [this](std::uint32_t p, double x) { return positions_[p].x < x; });
    for (auto it = slab; it != unused_.end() && positions_[*it].x <= origin.x + radius; ++it) {
        const std::uint32_t p = *it;
        if (pointMark[p] == rimMark || !(length(positions_[p] - origin) < radius) || !facesUp(p) ||
            hasLiveFace(p, plan))
            continue;
        inner.push_back({onPlane(p), p});
    }
    std::sort(inner.begin(), inner.end(), [](const auto& a, const auto& b) {
        return a.first.x < b.first.x ||
               (a.first.x == b.first.x && (a.first.y < b.first.y || (a.first.y == b.first.y && a.second < b.second)));
    });
    std::vector<Point2> flatPoints = polygon;
    std::vector<std::uint32_t> ids = rim;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const Point2& q = inner[i].first;
        // a second point on the same spot in the plane would fold a face
        if (i > 0 && q.x == inner[i - 1].first.x && q.y == inner[i - 1].first.y)
            continue;
        if (!insidePolygon(polygon, q))
            continue;
        flatPoints.push_back(q);
        ids.push_back(inner[i].second);
    }
    const std::size_t m = rim.size();
    // Two rim points an outside face joins already must not be joined
    // inside too: that edge would take a third face.
    std::unordered_map<std::uint32_t, std::uint32_t> rimPlace;
    for (std::uint32_t i = 0; i < m; ++i)
        rimPlace[rim[i]] = i;
    std::unordered_set<std::uint64_t> joinedOutside;
    const std::uint64_t count = flatPoints.size();
    for (std::uint32_t i = 0; i < m; ++i)
        forLiveFacesAt(rim[i], plan, [&](std::uint32_t g) {
            if (faceMark[g] == inRegion)
                return;
            for (std::uint32_t corner : faces_[g]) {
                const auto found = rimPlace.find(corner);
                if (found != rimPlace.end() && found->second != i) {
                    joinedOutside.insert(i * count + found->second);
                    joinedOutside.insert(found->second * count + i);
                }
            }
        });
    const std::vector<Triangle> triangles = triangulate(flatPoints, static_cast<std::uint32_t>(m), joinedOutside);
    if (triangles.empty())
        return false;

    std::vector<Face> made;
    made.reserve(triangles.size());
    for (const Triangle& t : triangles) {
        const Face face = {ids[t[0]], ids[t[1]], ids[t[2]]};
        if (!(length(faceCross(positions_, face)) > 0.0))
            return false;
        // a chord between two rim points must not be an edge outside the region
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t x = t[k], y = t[(k + 1) % 3];
            if (x >= m || y >= m || (x + 1) % m == y || (y + 1) % m == x)
                continue;
            bool taken = false;
            forLiveFacesAt(ids[x], plan, [&](std::uint32_t g) {
                if (faceMark[g] != inRegion)
                    for (std::uint32_t corner : faces_[g])
                        taken = taken || corner == ids[y];
            });
            if (taken)
                return false;
        }
        made.push_back(face);
    }
    std::vector<std::uint32_t> near;
    std::vector<Box> madeBoxes(made.size());
    for (std::size_t i = 0; i < made.size(); ++i)
        madeBoxes[i] = boxOf(positions_, made[i]);
    for (std::size_t i = 0; i < made.size(); ++i) {
        const Box& box = madeBoxes[i];
        near.clear();
        boxes_.query(box, near);
        plan.asked = plan.askedAny ? merged(plan.asked, box) : box;
        plan.askedAny = true;
        for (std::size_t at = 0; at < near.size(); ++at) {
            const std::uint32_t g = near[at];
            if (dead_[g] || faceMark[g] == inRegion || !facesIntersect(positions_, made[i], faces_[g]))
                continue;
            scratch.blocker = g;
            for (std::size_t later = at + 1; plan.ahead && later < near.size() && !plan.orderMatters; ++later) {
                const std::uint32_t h = near[later];
                plan.orderMatters =
                    !dead_[h] && faceMark[h] != inRegion && facesIntersect(positions_, made[i], faces_[h]);
            }
            return false;
        }
        // the plane keeps them apart, up to rounding
        for (std::size_t j = i + 1; j < made.size(); ++j)
            if (box.meets(madeBoxes[j]) && facesIntersect(positions_, made[i], made[j]))
                return false;
    }

    // the points the new faces take that no face of the region had
    ++scratch.mark;
    const std::uint32_t usedMark = scratch.mark;
    plan.pointsUsed = 0;
    for (const Face& face : made)
        for (std::uint32_t corner : face) {
            if (pointMark[corner] != usedMark && pointMark[corner] != seenMark && pointMark[corner] != rimMark)
                ++plan.pointsUsed;
            pointMark[corner] = usedMark;
        }
    plan.made = std::move(made);
    return true;
}

bool Patcher::commit(const PatchPlan& plan)
{
    if (plan.outcome == PatchPlan::Outcome::AlreadyClosed) {
        ++counts_.patched;
        return true;
    }
    if (plan.outcome == PatchPlan::Outcome::LeftOpen)
        return false;
    for (std::uint32_t f : plan.region)
        dead_[f] = true;
    counts_.facesRemoved += plan.region.size();
    for (const Face& face : plan.made) {
        const auto f = static_cast<std::uint32_t>(faces_.size());
        faces_.push_back(face);
        dead_.push_back(false);
        boxes_.refresh(f);
        for (std::uint32_t corner : face)
            addedAt_[corner].push_back(f);
    }
    counts_.pointsUsed += plan.pointsUsed;
    counts_.facesAdded += plan.made.size();
    ++counts_.patched;
    return true;
}

PatchCounts Patcher::finish()
{
    if (counts_.facesRemoved > 0) {
        std::vector<bool> keep(dead_.size());
        for (std::size_t f = 0; f < dead_.size(); ++f)
            keep[f] = !dead_[f];
        keepMarked(faces_, keep);
        boxes_.keepOnly(keep);
    }
    return counts_;
}

// Outlines planned at once: a batch's first plan always holds, a later one
// only where the ones before it changed nothing it read.
constexpr unsigned kMostPlanners = 2;
constexpr std::size_t kBatch = 8;

}  // namespace

PatchCounts patchHoles(const Surface& surface, Faces& faces, FaceBoxTree& boxes,
                       const std::vector<std::vector<std::uint32_t>>& outlines, unsigned threads)
{
    if (outlines.empty())
        return {};
    Patcher patcher(surface, faces, boxes);
    std::vector<std::uint32_t> open;
    const unsigned planners = std::max(1u, std::min(threads, kMostPlanners));
    std::vector<PlanScratch> scratch(planners);
    BatchChanges changes(surface.positions.size());
    planInBatches<PatchPlan>(
        outlines.size(), planners, kBatch, 2, changes,
        [&](unsigned planner, std::size_t k, bool ahead) {
            patcher.prepare(scratch[planner]);
            return patcher.plan(outlines[k], scratch[planner], ahead);
        },
        [](std::size_t) { return std::size_t{1}; },
        [&](const PatchPlan& plan, std::size_t) {
            return (plan.orderMatters && changes.added()) ||
                   changes.reaches(plan.read, plan.askedAny ? &plan.asked : nullptr);
        },
        [&](const PatchPlan& plan, std::size_t k) {
            if (plan.outcome == PatchPlan::Outcome::Rebuilt) {
                for (const std::uint32_t f : plan.region)
                    changes.take(faces[f], boxes.faceBox(f), false);
                for (const Face& face : plan.made)
                    changes.take(face, boxOf(surface.positions, face), true);
            }
            if (!patcher.commit(plan))
                open.insert(open.end(), outlines[k].begin(), outlines[k].end());
        });
    PatchCounts counts = patcher.finish();
    counts.openCorners = std::move(open);
    return counts;
}
