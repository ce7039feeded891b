#include "repair/HoleFilling.h"

#include "repair/BatchChanges.h"
#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFoldAngle =
    150.0 * kPi / 180.0;  // a new face within 30 degrees of folding onto the old one beside it

// The closing of a hole takes time with the cube of its outline's length
// and memory with the square; beyond this, a long outline would take
// minutes and gigabytes, and it is left open whatever holes:<N> says.
constexpr std::size_t kMaxHoleEdges = 1000;

// A hole the repair opened is closed up to this outline length whatever
// holes:<N> says: on noisy scans such outlines run into the hundreds, and
// every try at closing one costs the cube of its length.
constexpr std::size_t kMaxOpenedEdges = 60;

// A triangle with a smallest angle under 5 degrees, as a cosine.
const double kThin = std::cos(5.0 * kPi / 180.0);

// Loops planned at once, and how much work (the cubes of their lengths,
// as the closing takes) a batch must hold to pay for starting a thread.
constexpr unsigned kMostPlanners = 2;
constexpr std::size_t kBatch = 8;
constexpr std::size_t kEnoughWork = 8192;

// How many closings of one hole are tried before it is left open.
constexpr int kAttempts = 12;
// The same for an outline past holes:<N> that the repair opened: each try
// there costs many times more, and few such outlines close after three.
constexpr int kLongAttempts = 3;

// The hole loops: closed walks along boundary edges, each run opposite to
// the face beside it, split where a walk comes back to a point it passed,
// so that every loop visits each of its points once. loops[i][k] is a
// point, and the face beside the edge from it to the next point is the
// face of sides[i][k].
struct Loops {
    std::vector<std::vector<std::uint32_t>> points;
    std::vector<std::vector<std::uint32_t>> sides;  // half-edges of the faces beside the loop
};

// With live given, only the faces it marks count, as if the others were
// gone from the list and the table. With among given (edges listed once
// each), only those edges are read: they must hold every edge with one
// live face. With open given, it receives the edges that have one.
Loops findLoops(const Faces& faces, const EdgeTable& table, const std::vector<bool>* live = nullptr,
                const std::vector<std::uint32_t>* among = nullptr, std::vector<std::uint32_t>* open = nullptr)
{
    // Boundary half-edges, by the point the hole's edge leaves (their end).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    if (open != nullptr)
        open->clear();
    const auto read = [&](std::uint32_t e) {
        std::uint32_t count = 0, only = 0;
        for (std::uint32_t i = 0; i < table.uses(e); ++i)
            if (live == nullptr || (*live)[EdgeTable::faceOf(table.use(e, i))]) {
                ++count;
                only = table.use(e, i);
            }
        if (count != 1)
            return;
        out.push_back({EdgeTable::to(faces, only), only});
        if (open != nullptr)
            open->push_back(e);
    };
    if (among != nullptr) {
        for (const std::uint32_t e : *among)
            read(e);
    } else {
        for (std::size_t e = 0; e < table.edgeCount(); ++e)
            if (live != nullptr || table.uses(e) == 1)
                read(static_cast<std::uint32_t>(e));
    }
    // the edges' order is no matter: the half-edges are sorted here
    std::sort(out.begin(), out.end());
    std::vector<bool> used(out.size(), false);
    // where each point is in the walk, or none: a table by point, cleared
    // point by point as walks end, as a map's clearing costs its buckets
    constexpr std::uint32_t kNowhere = 0xffffffffu;
    std::uint32_t highest = 0;
    for (const auto& [to, side] : out)
        highest = std::max({highest, to, EdgeTable::from(faces, side)});
    std::vector<std::uint32_t> placeOf(out.empty() ? 0 : highest + 1, kNowhere);
    auto firstFrom = [&out](std::uint32_t point) {
        return std::lower_bound(out.begin(), out.end(), std::make_pair(point, std::uint32_t{0})) - out.begin();
    };

    Loops loops;
    std::vector<std::uint32_t> points, sides;
    for (std::size_t start = 0; start < out.size(); ++start) {
        if (used[start])
            continue;
        for (const std::uint32_t p : points)
            placeOf[p] = kNowhere;
        points.clear();
        sides.clear();
        std::size_t take = start;
        for (;;) {
            used[take] = true;
            placeOf[out[take].first] = static_cast<std::uint32_t>(points.size());
            points.push_back(out[take].first);
            sides.push_back(out[take].second);
            const std::uint32_t at = EdgeTable::from(faces, out[take].second);
            if (placeOf[at] != kNowhere) {
                const std::size_t j = placeOf[at];
                loops.points.emplace_back(points.begin() + static_cast<std::ptrdiff_t>(j), points.end());
                loops.sides.emplace_back(sides.begin() + static_cast<std::ptrdiff_t>(j), sides.end());
                for (std::size_t k = j; k < points.size(); ++k)
                    placeOf[points[k]] = kNowhere;
                points.resize(j);
                sides.resize(j);
                if (points.empty())
                    break;
            }
            // A walk that cannot go on belongs to faces wound against each
            // other; it stays open.
            take = out.size();
            for (auto i = static_cast<std::size_t>(firstFrom(at)); i < out.size() && out[i].first == at; ++i) {
                if (!used[i]) {
                    take = i;
                    break;
                }
            }
            if (take == out.size())
                break;
        }
    }
    return loops;
}

// Cosines closer than this may have arc cosines that round to one value;
// farther apart, their angles differ by far more than the rounding.
constexpr double kNearCosines = 1e-9;

bool sameAngle(double x, double y)
{
    return x == y || (std::abs(x - y) < kNearCosines && std::acos(x) == std::acos(y));
}

// The cosine of the angle between two vectors of the given lengths, as the
// angle is read: -1 where either has none.
double cosineBetween(const CGVector& a, double la, const CGVector& b, double lb)
{
    if (!(la > 0.0) || !(lb > 0.0))
        return -1.0;
    return std::max(-1.0, std::min(1.0, dot(a, b) / (la * lb)));
}

const double kFoldCosine = std::cos(kFoldAngle);

// Whether the angle of a cosine is wider than kFoldAngle.
bool folds(double cosine)
{
    if (std::abs(cosine - kFoldCosine) < kNearCosines)
        return std::acos(cosine) > kFoldAngle;
    return cosine < kFoldCosine;
}

// Closes hole loops with triangles over their own points. One loop at a
// time, so that each sees the edges the ones before it added.
// How a loop would be closed, worked out without changing any face, and
// what it read to decide: the loop's points (the edges closings before it
// added between them) and the boxes it asked the tree about. Whether a
// face met one is all it asks, so the order the tree answers in is no
// matter.
struct FillPlan {
    std::vector<Face> faces;            // the closing; empty when none was found
    std::vector<std::uint64_t> chords;  // the edges inside the loop it adds, by edgeKey
    Box asked;                          // around every box asked of the tree
    bool askedAny = false;
};

// Works out closings of hole loops with triangles over their own points.
// The loops are closed one at a time, each seeing the edges the ones
// before it added; a filler only reads, so one per thread may plan at once.
class HoleFiller {
public:
    HoleFiller(const std::vector<CGVertex>& positions, const Faces& faces, const EdgeTable& table,
               const FaceBoxTree& tree, const std::unordered_set<std::uint64_t>& addedEdges, bool foldsAllowed)
        : positions_(positions),
          faces_(faces),
          table_(table),
          tree_(tree),
          addedEdges_(addedEdges),
          foldsAllowed_(foldsAllowed)
    {
    }

    // The closing of the loop, none when every way of closing it tried
    // would give an edge a third face, make a duplicate, fold back onto a
    // face beside the hole or meet a face.
    FillPlan plan(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides, int attempts);

private:
    // The largest angle between the normals of neighbouring faces is kept
    // as its cosine, the least of theirs, and compared as the angle would
    // be: the arc cosine is taken only where two cosines lie so close that
    // their angles may round to one.
    struct Cost {
        double worstCosine = 1.0;
        double area = 0.0;
        bool operator<(const Cost& other) const
        {
            if (sameAngle(worstCosine, other.worstCosine))
                return area < other.area;
            return worstCosine > other.worstCosine;
        }
    };

    // The least-cost closing that avoids the forbidden triangles, as
    // corner triples of the loop; empty when there is none. A loop of
    // three has its own; longer ones read the table solve() fills and
    // solveAround() mends after a triangle of first..last is forbidden.
    std::vector<Face> closingOfThree(const std::vector<std::uint32_t>& loop,
                                     const std::vector<std::uint32_t>& sides) const;
    std::vector<Face> closing(std::size_t n) const;
    void solve(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides);
    void solveAround(const std::vector<std::uint32_t>& loop, std::size_t first, std::size_t last);
    // the least cost of closing the loop's points i..j against the chord
    // j-i, and the point the triangle on that chord takes
    void solveChord(const std::vector<std::uint32_t>& loop, std::size_t i, std::size_t j);
    bool meetsNothing(const Face& face, const std::vector<Face>& before, FillPlan& plan);

    bool isForbidden(std::uint64_t triple) const
    {
        return !forbidden_.empty() && std::find(forbidden_.begin(), forbidden_.end(), triple) != forbidden_.end();
    }

    bool edgeFree(std::uint32_t a, std::uint32_t b) const
    {
        return table_.find(a, b) == table_.edgeCount() && addedEdges_.count(edgeKey(a, b)) == 0;
    }

    const std::vector<CGVertex>& positions_;
    const Faces& faces_;
    const EdgeTable& table_;                               // the faces before any hole was closed
    const FaceBoxTree& tree_;                              // not owned
    const std::unordered_set<std::uint64_t>& addedEdges_;  // by the closings before; not owned
    bool foldsAllowed_;
    std::vector<std::uint64_t> forbidden_;  // (i * n + m) * n + j of the loop being closed: a few
    std::vector<std::uint32_t> near_;
    // by chord i * n + j of the loop being closed
    std::vector<Cost> cost_;
    std::vector<std::uint32_t> apex_;
    std::vector<CGVector> normal_;
    std::vector<double> normalLength_;
    std::vector<bool> chordFree_;
    // the faces beside the loop's sides
    std::vector<CGVector> sideNormal_;
    std::vector<double> sideLength_;
};

std::vector<Face> HoleFiller::closingOfThree(const std::vector<std::uint32_t>& loop,
                                             const std::vector<std::uint32_t>& sides) const
{
    // Three boundary edges around one face only: closing them would put
    // the same face there twice.
    const std::size_t n = 3;
    const Face face = {loop[0], loop[1], loop[2]};
    if (thirdCorner(faces_, sides[0]) == loop[2] || !(length(faceCross(positions_, face)) > 0.0) ||
        isForbidden((0 * n + 1) * n + 2))
        return {};
    return {Face{0, 1, 2}};
}

void HoleFiller::solve(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides)
{
    const std::size_t n = loop.size();
    const double inf = std::numeric_limits<double>::infinity();
    cost_.assign(n * n, Cost{-inf, inf});
    apex_.assign(n * n, kNoFace);
    normal_.assign(n * n, CGVector{});
    normalLength_.assign(n * n, 0.0);
    chordFree_.assign(n * n, false);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 2; j < n; ++j)
            chordFree_[i * n + j] = (i == 0 && j == n - 1) || edgeFree(loop[i], loop[j]);
    sideNormal_.resize(n);
    sideLength_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        sideNormal_[i] = faceCross(positions_, faces_[EdgeTable::faceOf(sides[i])]);
        sideLength_[i] = length(sideNormal_[i]);
        if (i + 1 < n)
            cost_[i * n + i + 1] = Cost{};
    }
    for (std::size_t span = 2; span < n; ++span)
        for (std::size_t i = 0; i + span < n; ++i)
            solveChord(loop, i, i + span);
}

void HoleFiller::solveAround(const std::vector<std::uint32_t>& loop, std::size_t first, std::size_t last)
{
    // Only the chords over first..last ever read that chord's cost; the
    // others keep theirs.
    const std::size_t n = loop.size();
    const double inf = std::numeric_limits<double>::infinity();
    for (std::size_t span = last - first; span < n; ++span)
        for (std::size_t i = 0; i <= first && i + span < n; ++i) {
            if (i + span < last)
                continue;
            cost_[i * n + i + span] = Cost{-inf, inf};
            apex_[i * n + i + span] = kNoFace;
            solveChord(loop, i, i + span);
        }
}

void HoleFiller::solveChord(const std::vector<std::uint32_t>& loop, std::size_t i, std::size_t j)
{
    const std::size_t n = loop.size();
    const double inf = std::numeric_limits<double>::infinity();
    if (!chordFree_[i * n + j])
        return;
    // the cosine between a triangle's normal t, of length lt, and the face
    // beside the chord a-b
    const auto toNeighbour = [&](const CGVector& t, double lt, std::size_t a, std::size_t b) {
        return b == a + 1 ? cosineBetween(t, lt, sideNormal_[a], sideLength_[a])
                          : cosineBetween(t, lt, normal_[a * n + b], normalLength_[a * n + b]);
    };
    for (std::size_t m = i + 1; m < j; ++m) {
        const Cost& left = cost_[i * n + m];
        const Cost& right = cost_[m * n + j];
        if (left.area == inf || right.area == inf)
            continue;
        const CGVector t = faceCross(positions_, {loop[i], loop[m], loop[j]});
        const double lt = length(t);
        if (!(lt > 0.0) || isForbidden((i * n + m) * n + j))
            continue;
        // Against a face already there, a triangle must not fold back over
        // it, as it would when capping a small patch from behind.
        const double toLeft = toNeighbour(t, lt, i, m);
        const double toRight = toNeighbour(t, lt, m, j);
        const double toClosing =
            i == 0 && j == n - 1 ? cosineBetween(t, lt, sideNormal_[n - 1], sideLength_[n - 1]) : 1.0;
        // In a slit, every triangle is a sliver whose normal says nothing;
        // the exact crossing test still guards it.
        if (!foldsAllowed_ && ((m == i + 1 && folds(toLeft)) || (j == m + 1 && folds(toRight)) || folds(toClosing))) {
            const bool thin = smallestAngleCosine(positions_, {loop[i], loop[m], loop[j]}) > kThin;
            if (!thin)
                continue;
        }
        Cost c;
        c.worstCosine = std::min({left.worstCosine, right.worstCosine, toLeft, toRight, toClosing});
        c.area = left.area + right.area + 0.5 * lt;
        if (c < cost_[i * n + j]) {
            cost_[i * n + j] = c;
            apex_[i * n + j] = static_cast<std::uint32_t>(m);
            normal_[i * n + j] = t;
            normalLength_[i * n + j] = lt;
        }
    }
}

std::vector<Face> HoleFiller::closing(std::size_t n) const
{
    if (apex_[n - 1] == kNoFace)
        return {};
    // Corners as places on the loop, which the caller turns into points.
    std::vector<Face> made;
    std::vector<std::pair<std::size_t, std::size_t>> open{{0, n - 1}};
    while (!open.empty()) {
        const auto [i, j] = open.back();
        open.pop_back();
        const std::size_t m = apex_[i * n + j];
        made.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(j)});
        for (const auto& [a, b] : {std::make_pair(i, m), std::make_pair(m, j)})
            if (b > a + 1)
                open.push_back({a, b});
    }
    return made;
}

bool HoleFiller::meetsNothing(const Face& face, const std::vector<Face>& before, FillPlan& plan)
{
    const Box box = boxOf(positions_, face);
    plan.asked = plan.askedAny ? merged(plan.asked, box) : box;
    plan.askedAny = true;
    near_.clear();
    tree_.query(box, near_);
    for (std::uint32_t k : near_)
        if (facesIntersect(positions_, face, faces_[k]))
            return false;
    for (const Face& other : before)
        if (facesIntersect(positions_, face, other))
            return false;
    return true;
}

FillPlan HoleFiller::plan(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides, int attempts)
{
    FillPlan plan;
    const std::size_t n = loop.size();
    forbidden_.clear();
    std::size_t forbiddenFirst = 0, forbiddenLast = 0;  // the chord of the triangle forbidden last
    std::vector<Face>& faces = plan.faces;
    // Each try forbids the first triangle that met a face and asks again
    // for the best closing without it.
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (n > 3) {
            if (attempt == 0)
                solve(loop, sides);
            else
                solveAround(loop, forbiddenFirst, forbiddenLast);
        }
        const std::vector<Face> places = n == 3 ? closingOfThree(loop, sides) : closing(n);
        if (places.empty()) {
            faces.clear();
            return plan;
        }
        faces.clear();
        bool clear = true;
        for (const Face& p : places) {
            const Face face = {loop[p[0]], loop[p[1]], loop[p[2]]};
            if (!meetsNothing(face, faces, plan)) {
                forbidden_.push_back((std::uint64_t{p[0]} * n + p[1]) * n + p[2]);
                forbiddenFirst = p[0];
                forbiddenLast = p[2];
                clear = false;
                break;
            }
            faces.push_back(face);
        }
        if (!clear)
            continue;
        for (const Face& p : places)
            for (const auto& [a, b] :
                 {std::make_pair(p[0], p[1]), std::make_pair(p[1], p[2]), std::make_pair(p[0], p[2])})
                if (b > a + 1 && !(a == 0 && b == n - 1))
                    plan.chords.push_back(edgeKey(loop[a], loop[b]));
        return plan;
    }
    faces.clear();
    return plan;
}

// Drops faces that lie in a short hole's outline by two of their edges: a
// flap hanging into the hole on one edge, which no closing can get past.
// A flap's going can bare another: up to three rounds, each reading the
// faces the rounds before kept, and the list, tree and table close up
// once at the end. Returns the loops of the faces kept, read by the last
// round when it found no flap, so the closing need not read them again.
std::optional<Loops> removeFlaps(Faces& faces, EdgeTable& table, FaceBoxTree& boxes, std::size_t limit,
                                 std::uint64_t& removed)
{
    constexpr int kRounds = 3;
    std::vector<bool> keep(faces.size(), true);
    bool anyAtAll = false;
    std::vector<std::uint32_t> beside;
    std::optional<Loops> last;
    // A round's open edges are the last round's, less those whose face
    // went, and those of the faces that went: only these are read again.
    std::vector<std::uint32_t> open, dropped, among;
    for (int round = 0; round < kRounds; ++round) {
        if (anyAtAll) {
            among = open;
            for (const std::uint32_t f : dropped)
                for (std::uint32_t k = 0; k < 3; ++k)
                    among.push_back(table.edgeOf(3 * f + k));
            std::sort(among.begin(), among.end());
            among.erase(std::unique(among.begin(), among.end()), among.end());
        }
        dropped.clear();
        Loops loops = findLoops(faces, table, anyAtAll ? &keep : nullptr, anyAtAll ? &among : nullptr, &open);
        bool any = false;
        for (std::size_t i = 0; i < loops.points.size(); ++i) {
            // three sides of one face are a face alone, not a flap in a hole
            if (loops.points[i].size() > limit || loops.points[i].size() <= 3)
                continue;
            beside.clear();
            for (std::uint32_t side : loops.sides[i])
                beside.push_back(EdgeTable::faceOf(side));
            std::sort(beside.begin(), beside.end());
            for (std::size_t k = 1; k < beside.size(); ++k)
                if (beside[k] == beside[k - 1] && keep[beside[k]]) {
                    keep[beside[k]] = false;
                    dropped.push_back(beside[k]);
                    any = true;
                }
        }
        if (!any) {
            last = std::move(loops);
            break;
        }
        anyAtAll = true;
    }
    if (anyAtAll) {
        removed += keepMarked(faces, keep);
        boxes.keepOnly(keep);
        table.keepOnly(keep);
        // The kept faces keep their order, so the half-edges renumbered
        // sort as before and the loops walk the same way.
        if (last) {
            std::vector<std::uint32_t> place(keep.size());
            std::uint32_t kept = 0;
            for (std::size_t f = 0; f < keep.size(); ++f) {
                place[f] = kept;
                kept += keep[f] ? 1 : 0;
            }
            for (std::vector<std::uint32_t>& sides : last->sides)
                for (std::uint32_t& side : sides)
                    side = place[EdgeTable::faceOf(side)] * 3 + side % 3;
        }
    }
    return last;
}

// Whether most of an outline's edges had two faces in the surface as made:
// a hole the repair opened, which the outline's length says nothing about.
bool openedByRepair(const std::vector<std::uint32_t>& loop, const std::unordered_set<std::uint64_t>* openAsMade)
{
    if (openAsMade == nullptr || loop.size() > kMaxOpenedEdges)
        return false;
    std::size_t open = 0;
    for (std::size_t k = 0; k < loop.size(); ++k)
        open += openAsMade->count(edgeKey(loop[k], loop[(k + 1) % loop.size()]));
    return 2 * open < loop.size();
}

}  // namespace

HoleCounts fillHoles(const std::vector<CGVertex>& positions, Faces& faces, FaceBoxTree& boxes, std::size_t maxHoleEdges,
                     bool foldsAllowed, const std::unordered_set<std::uint64_t>* openAsMade)
{
    EdgeTable table(faces, positions.size());
    return fillHoles(positions, faces, boxes, table, maxHoleEdges, foldsAllowed, openAsMade, 1);
}

HoleCounts fillHoles(const std::vector<CGVertex>& positions, Faces& faces, FaceBoxTree& boxes, EdgeTable& table,
                     std::size_t maxHoleEdges, bool foldsAllowed, const std::unordered_set<std::uint64_t>* openAsMade,
                     unsigned threads)
{
    HoleCounts counts;
    const std::size_t limit = std::min(maxHoleEdges, kMaxHoleEdges);
    std::optional<Loops> read = removeFlaps(faces, table, boxes, limit, counts.removedFlaps);
    const Loops loops = read ? std::move(*read) : findLoops(faces, table);
    std::vector<std::size_t> todo;  // the loops to close, in order
    for (std::size_t i = 0; i < loops.points.size(); ++i) {
        const std::vector<std::uint32_t>& loop = loops.points[i];
        if (loop.size() >= 3 && (loop.size() <= limit || openedByRepair(loop, openAsMade)))
            todo.push_back(i);
    }
    const auto attemptsFor = [&](std::size_t i) { return loops.points[i].size() > limit ? kLongAttempts : kAttempts; };
    std::unordered_set<std::uint64_t> addedEdges;
    const unsigned planners = std::max(1u, std::min(threads, kMostPlanners));
    std::vector<HoleFiller> fillers(planners, HoleFiller(positions, faces, table, boxes, addedEdges, foldsAllowed));
    BatchChanges changes(positions.size());
    planInBatches<FillPlan>(
        todo.size(), planners, kBatch, kEnoughWork, changes,
        [&](unsigned planner, std::size_t k, bool) {
            const std::size_t i = todo[k];
            return fillers[planner].plan(loops.points[i], loops.sides[i], attemptsFor(i));
        },
        [&](std::size_t k) {
            const std::size_t n = loops.points[todo[k]].size();
            return n * n * n;
        },
        [&](const FillPlan& plan, std::size_t k) {
            return changes.reaches(loops.points[todo[k]], plan.askedAny ? &plan.asked : nullptr);
        },
        [&](const FillPlan& plan, std::size_t k) {
            const std::size_t i = todo[k];
            if (plan.faces.empty()) {
                counts.openOutlines.push_back(loops.points[i]);
                ++counts.leftOpen;
                return;
            }
            addedEdges.insert(plan.chords.begin(), plan.chords.end());
            for (const Face& face : plan.faces) {
                faces.push_back(face);
                const auto f = static_cast<std::uint32_t>(faces.size() - 1);
                boxes.refresh(f);
                changes.take(face, boxes.faceBox(f), true);
            }
            ++counts.filled;
            counts.facesAdded += plan.faces.size();
        });
    return counts;
}

std::uint64_t removeClosedScraps(Faces& faces, std::size_t pointCount, FaceBoxTree& boxes)
{
    EdgeTable table(faces, pointCount);
    return removeClosedScraps(faces, table, boxes);
}

std::uint64_t removeClosedScraps(Faces& faces, EdgeTable& table, FaceBoxTree& boxes)
{
    std::vector<std::uint32_t> part(faces.size());
    for (std::uint32_t f = 0; f < faces.size(); ++f)
        part[f] = f;
    const auto rootOf = [&part](std::uint32_t i) {
        while (part[i] != i)
            i = part[i] = part[part[i]];
        return i;
    };
    for (std::size_t e = 0; e < table.edgeCount(); ++e)
        for (std::uint32_t i = 1; i < table.uses(e); ++i) {
            const std::uint32_t a = rootOf(EdgeTable::faceOf(table.use(e, 0)));
            const std::uint32_t b = rootOf(EdgeTable::faceOf(table.use(e, i)));
            part[std::max(a, b)] = std::min(a, b);
        }
    std::vector<std::size_t> size(faces.size(), 0);
    std::vector<bool> open(faces.size(), false);
    std::size_t largest = 0;
    for (std::uint32_t f = 0; f < faces.size(); ++f)
        largest = std::max(largest, ++size[rootOf(f)]);
    // Without one sheet holding most faces, as on a scan far noisier than
    // its spacing, a small closed piece is as much the surface as any.
    if (10 * largest < 9 * faces.size())
        return 0;
    for (std::size_t e = 0; e < table.edgeCount(); ++e)
        if (table.uses(e) == 1)
            open[rootOf(EdgeTable::faceOf(table.use(e, 0)))] = true;
    std::vector<bool> keep(faces.size());
    bool any = false;
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        const std::uint32_t root = rootOf(f);
        keep[f] = open[root] || 100 * size[root] >= largest;
        any = any || !keep[f];
    }
    if (!any)
        return 0;
    boxes.keepOnly(keep);
    table.keepOnly(keep);
    return keepMarked(faces, keep);
}
