#include "repair/SurfaceRepair.h"

#include "geometry/Progress.h"
#include "geometry/Surface.h"
#include "repair/EdgeTable.h"
#include "repair/SurfaceMath.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr double kPi = 3.14159265358979323846;
constexpr double kFoldAngle =
    150.0 * kPi / 180.0;  // a new face within 30 degrees of folding onto the old one beside it

// The closing of a hole takes time with the cube of its outline's length
// and memory with the square; beyond this, a long outline would take
// minutes and gigabytes, and it is left open whatever holes:<N> says.
constexpr std::size_t kMaxHoleEdges = 1000;

// The fit of a face of no area: below any sum of three cosines, so such a
// face is always the one to go.
constexpr double kNoPlane = -4.0;

// Keeps the faces marked true, in order; returns how many went.
std::uint64_t keepMarked(Faces& faces, const std::vector<bool>& keep)
{
    std::size_t kept = 0;
    for (std::size_t f = 0; f < faces.size(); ++f)
        if (keep[f])
            faces[kept++] = faces[f];
    const std::size_t removed = faces.size() - kept;
    faces.resize(kept);
    return removed;
}

// Drops faces with the same corners as an earlier face, and faces that
// name a point twice, which are no triangle at all.
std::uint64_t removeDuplicates(Faces& faces, const EdgeTable& table)
{
    std::vector<bool> keep = table.repeatedFaces(faces.size());
    bool any = false;
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        keep[f] = !keep[f] && face[0] != face[1] && face[1] != face[2] && face[2] != face[0];
        any = any || !keep[f];
    }
    return any ? keepMarked(faces, keep) : 0;
}

bool windsOneWay(const EdgeTable& table)
{
    for (std::size_t e = 0; e < table.edgeCount(); ++e) {
        if (table.uses(e) > 2)
            return false;
        if (table.uses(e) == 2 && table.runsUp(e, 0) == table.runsUp(e, 1))
            return false;
    }
    return true;
}

// How well the face's plane fits its corners' normals: the sum of the
// cosines between the face normal and each usable corner normal.
double agreement(const Surface& surface, const Face& face)
{
    const CGVector n = faceCross(surface.positions, face);
    const double nl = length(n);
    if (!(nl > 0.0))
        return kNoPlane;
    double sum = 0.0;
    for (std::uint32_t corner : face) {
        const CGVector& m = surface.normals[corner];
        const double ml = length(m);
        if (ml > 0.0 && std::isfinite(ml))
            sum += dot(n, m) / (nl * ml);
    }
    return sum;
}

// Whether the two faces on the edge a-b, with third corners c and d, lie on
// the same side of it: the parts of c - a and d - a across the edge point
// the same way.
bool sameSide(const std::vector<CGVertex>& positions, std::uint32_t a, std::uint32_t b, std::uint32_t c,
              std::uint32_t d)
{
    const CGVector e = positions[b] - positions[a];
    const double ee = dot(e, e);
    if (!(ee > 0.0))
        return true;
    const CGVector u = positions[c] - positions[a];
    const CGVector v = positions[d] - positions[a];
    const CGVector uAcross = u - e * (dot(u, e) / ee);
    const CGVector vAcross = v - e * (dot(v, e) / ee);
    return dot(uAcross, vAcross) > 0.0;
}

std::uint32_t thirdCorner(const Faces& faces, std::uint32_t halfEdge)
{
    return faces[halfEdge / 3][(halfEdge % 3 + 2) % 3];
}

// Drops the worse face of each fold (two faces that run an edge the same
// way and lie on the same side of it) and every face beyond the best one
// per direction on an edge of more than two.
std::uint64_t removeFoldOvers(const Surface& surface, Faces& faces, const EdgeTable& table)
{
    std::vector<bool> keep(faces.size(), true);
    std::vector<std::uint32_t> alive;
    bool any = false;
    for (std::size_t e = 0; e < table.edgeCount(); ++e) {
        if (table.uses(e) < 2)
            continue;
        alive.clear();
        for (std::uint32_t i = 0; i < table.uses(e); ++i)
            if (keep[EdgeTable::faceOf(table.use(e, i))])
                alive.push_back(table.use(e, i));
        if (alive.size() == 2) {
            const std::uint32_t h = alive[0], g = alive[1];
            const std::uint32_t a = EdgeTable::from(faces, h), b = EdgeTable::to(faces, h);
            if (EdgeTable::from(faces, g) != a ||
                !sameSide(surface.positions, a, b, thirdCorner(faces, h), thirdCorner(faces, g)))
                continue;
            const std::uint32_t f = EdgeTable::faceOf(h), o = EdgeTable::faceOf(g);
            // strict <, so on a tie the later face goes
            keep[agreement(surface, faces[f]) < agreement(surface, faces[o]) ? f : o] = false;
            any = true;
        } else if (alive.size() > 2) {
            std::uint32_t best[2] = {kNone, kNone};  // per direction: lower corner first, or not
            double bestAgreement[2] = {0.0, 0.0};
            for (std::uint32_t h : alive) {
                const int way = EdgeTable::from(faces, h) == table.lower(e) ? 0 : 1;
                const double a = agreement(surface, faces[EdgeTable::faceOf(h)]);
                if (best[way] == kNone || a > bestAgreement[way]) {
                    best[way] = h;
                    bestAgreement[way] = a;
                }
            }
            for (std::uint32_t h : alive)
                if (h != best[0] && h != best[1])
                    keep[EdgeTable::faceOf(h)] = false;
            any = true;
        }
    }
    return any ? keepMarked(faces, keep) : 0;
}

// Where a face lies around one of its corners: the angle it spans there,
// seen along the corner's normal, as a start and a width below pi.
struct Sector {
    double start = 0.0;
    double width = 0.0;
};

constexpr double kTwoPi = 2.0 * kPi;
constexpr double kAngleSlack = 1e-9;  // faces that only touch along a side do not overlap

bool overlap(const Sector& p, const Sector& q)
{
    double d = q.start - p.start;
    if (d < 0.0)
        d += kTwoPi;
    return d < p.width - kAngleSlack || d > kTwoPi - q.width + kAngleSlack;
}

// Two directions across a normal; false when the normal gives no plane.
bool tangentFrame(const CGVector& normal, CGVector& t1, CGVector& t2)
{
    const double l = length(normal);
    if (!(l > 0.0) || !std::isfinite(l))
        return false;
    const CGVector n = normal * (1.0 / l);
    const CGVector helper = std::fabs(n.x) < 0.6 ? CGVector{1.0, 0.0, 0.0} : CGVector{0.0, 1.0, 0.0};
    t1 = cross(n, helper);
    t1 = t1 * (1.0 / length(t1));
    t2 = cross(n, t1);
    return true;
}

// Grows a surface that is a manifold wound one way out of the faces, and
// drops the rest. Faces join in order of how well they fit the point
// normals, each across an edge of the grown part, turned to run that edge
// against the face already there. A face stays out while it would give an
// edge a third face, cover an angle around a corner that a kept face
// covers (a fold-over, whether or not the two share an edge), or touch the
// grown part at a corner alone, which would pinch the surface there. When
// no face can join, the best face on three untouched points starts a new
// part. Each part is then wound the way most of its area agrees with the
// point normals. Returns how many faces went; flipped counts the faces
// whose winding changed.
class ManifoldGrowth {
public:
    ManifoldGrowth(const Surface& surface, Faces& faces, const EdgeTable& table)
        : surface_(surface), faces_(faces), table_(table)
    {
        const std::size_t pointCount = surface.positions.size();
        firstSector_.assign(pointCount + 1, 0);
        for (const Face& face : faces)
            for (std::uint32_t corner : face)
                ++firstSector_[corner + 1];
        for (std::size_t p = 0; p < pointCount; ++p)
            firstSector_[p + 1] += firstSector_[p];
        taken_.assign(pointCount, 0);
        sectors_.resize(3 * faces.size());
        edgeUses_.assign(table.edgeCount(), 0);
        state_.assign(faces.size(), kOut);
        framed_.assign(pointCount, false);
        t1_.resize(pointCount);
        t2_.resize(pointCount);
        for (std::size_t p = 0; p < pointCount; ++p)
            framed_[p] = tangentFrame(surface.normals[p], t1_[p], t2_[p]);
        fit_.resize(faces.size());
        for (std::size_t f = 0; f < faces.size(); ++f)
            fit_[f] = agreement(surface, faces[f]);
    }

    std::uint64_t run(std::uint64_t& flipped);

private:
    enum : std::uint8_t { kOut, kIn, kInTurned };

    struct Candidate {
        double fit;
        std::uint32_t face;
        bool operator<(const Candidate& other) const  // best fit on top; ties to the earlier face
        {
            return fit < other.fit || (fit == other.fit && face > other.face);
        }
    };

    // The face as it would join: its corners, turned where needed. False
    // when it cannot join now.
    bool fits(std::uint32_t f, bool seed, Face& corners, Sector sector[3]) const;
    void take(std::uint32_t f, const Face& corners, const Sector sector[3], bool turned);
    void offerNeighbours(std::uint32_t f);

    const Surface& surface_;
    Faces& faces_;
    const EdgeTable& table_;
    std::vector<std::uint32_t> firstSector_;
    std::vector<std::uint32_t> taken_;
    std::vector<Sector> sectors_;
    std::vector<std::uint8_t> edgeUses_;
    std::vector<std::uint8_t> state_;
    std::vector<bool> framed_;
    std::vector<CGVector> t1_, t2_;
    std::vector<double> fit_;
    std::vector<Candidate> heap_;
};

bool ManifoldGrowth::fits(std::uint32_t f, bool seed, Face& corners, Sector sector[3]) const
{
    // The winding comes from the edges the face shares with the grown
    // part: each must run against the face already there.
    int turn = 0;  // +1: as it is, -1: turned, 0: no shared edge yet
    for (std::uint32_t k = 0; k < 3; ++k) {
        const std::uint32_t h = 3 * f + k;
        const std::uint32_t e = table_.edgeOf(h);
        if (edgeUses_[e] >= 2)
            return false;
        if (edgeUses_[e] == 0)
            continue;
        std::uint32_t other = kNone;
        for (std::uint32_t i = 0; i < table_.uses(e); ++i)
            if (state_[EdgeTable::faceOf(table_.use(e, i))] != kOut)
                other = table_.use(e, i);
        const Face& o = faces_[EdgeTable::faceOf(other)];
        const bool otherTurned = state_[EdgeTable::faceOf(other)] == kInTurned;
        // where the kept face starts this edge, as it is kept
        const std::uint32_t otherFrom = otherTurned ? o[(other % 3 + 1) % 3] : o[other % 3];
        const int want = otherFrom == EdgeTable::from(faces_, h) ? -1 : 1;
        if (turn != 0 && turn != want)
            return false;
        turn = want;
    }
    if (turn == 0 && !seed)
        return false;
    if (fit_[f] == kNoPlane)
        return false;  // no area: nothing to print or measure
    corners = faces_[f];
    if (turn == -1)
        std::swap(corners[1], corners[2]);

    for (std::uint32_t k = 0; k < 3; ++k) {
        const std::uint32_t v = corners[k], next = corners[(k + 1) % 3], prev = corners[(k + 2) % 3];
        if (!framed_[v]) {
            sector[k] = Sector{};
            continue;
        }
        const CGVector a = surface_.positions[next] - surface_.positions[v];
        const CGVector b = surface_.positions[prev] - surface_.positions[v];
        const double angleA = std::atan2(dot(a, t2_[v]), dot(a, t1_[v]));
        const double angleB = std::atan2(dot(b, t2_[v]), dot(b, t1_[v]));
        double width = angleB - angleA;
        if (width < 0.0)
            width += kTwoPi;
        sector[k] = width <= kPi ? Sector{angleA < 0.0 ? angleA + kTwoPi : angleA, width}
                                 : Sector{angleB < 0.0 ? angleB + kTwoPi : angleB, kTwoPi - width};
        for (std::uint32_t i = firstSector_[v]; i < firstSector_[v] + taken_[v]; ++i)
            if (overlap(sectors_[i], sector[k]) || overlap(sector[k], sectors_[i]))
                return false;
    }
    return true;
}

void ManifoldGrowth::take(std::uint32_t f, const Face& corners, const Sector sector[3], bool turned)
{
    state_[f] = turned ? kInTurned : kIn;
    for (std::uint32_t k = 0; k < 3; ++k) {
        ++edgeUses_[table_.edgeOf(3 * f + k)];
        sectors_[firstSector_[corners[k]] + taken_[corners[k]]++] = sector[k];
    }
}

void ManifoldGrowth::offerNeighbours(std::uint32_t f)
{
    for (std::uint32_t k = 0; k < 3; ++k) {
        const std::uint32_t e = table_.edgeOf(3 * f + k);
        for (std::uint32_t i = 0; i < table_.uses(e); ++i) {
            const std::uint32_t o = EdgeTable::faceOf(table_.use(e, i));
            if (state_[o] == kOut) {
                heap_.push_back({fit_[o], o});
                std::push_heap(heap_.begin(), heap_.end());
            }
        }
    }
}

std::uint64_t ManifoldGrowth::run(std::uint64_t& flipped)
{
    std::vector<std::uint32_t> order(faces_.size());
    for (std::uint32_t f = 0; f < faces_.size(); ++f)
        order[f] = f;
    std::stable_sort(order.begin(), order.end(),
                     [this](std::uint32_t a, std::uint32_t b) { return fit_[a] > fit_[b]; });

    Face corners;
    Sector sector[3];
    std::vector<std::uint32_t> members;
    for (std::uint32_t seed : order) {
        if (state_[seed] != kOut || taken_[faces_[seed][0]] > 0 || taken_[faces_[seed][1]] > 0 ||
            taken_[faces_[seed][2]] > 0 || !fits(seed, true, corners, sector))
            continue;
        take(seed, corners, sector, false);
        members.assign(1, seed);

        offerNeighbours(seed);
        while (!heap_.empty()) {
            std::pop_heap(heap_.begin(), heap_.end());
            const std::uint32_t f = heap_.back().face;
            heap_.pop_back();
            if (state_[f] != kOut || !fits(f, false, corners, sector))
                continue;
            take(f, corners, sector, corners != faces_[f]);
            members.push_back(f);

            offerNeighbours(f);
        }

        // A part kept as it was stays as it was; otherwise most of its
        // area decides which way it faces.
        double agreeing = 0.0, disagreeing = 0.0;
        bool anyTurned = false;
        for (std::uint32_t f : members) {
            anyTurned = anyTurned || state_[f] == kInTurned;
            const double d = fit_[f];
            const double area = 0.5 * length(faceCross(surface_.positions, faces_[f]));
            if (d > 0.0)
                (state_[f] == kInTurned ? disagreeing : agreeing) += area;
            else if (d < 0.0)
                (state_[f] == kInTurned ? agreeing : disagreeing) += area;
        }
        const bool turnAll = anyTurned && disagreeing > agreeing;
        for (std::uint32_t f : members) {
            if ((state_[f] == kInTurned) != turnAll) {
                std::swap(faces_[f][1], faces_[f][2]);
                ++flipped;
            }
        }
    }

    std::vector<bool> keep(faces_.size());
    for (std::size_t f = 0; f < faces_.size(); ++f)
        keep[f] = state_[f] != kOut;
    return keepMarked(faces_, keep);
}

// Where a point is a corner of faces that only meet there (two fans
// touching at a point), keeps the fan with the most faces and drops the
// others: the holes they leave are closed later without the pinch. Dropping
// faces can split a fan elsewhere, so this repeats until no point has two.
std::uint64_t removePinches(Faces& faces, std::size_t pointCount)
{
    std::uint64_t removed = 0;
    for (;;) {
        const EdgeTable table(faces, pointCount);
        std::vector<std::uint32_t> first(pointCount + 1, 0);
        for (const Face& face : faces)
            for (std::uint32_t corner : face)
                ++first[corner + 1];
        for (std::size_t p = 0; p < pointCount; ++p)
            first[p + 1] += first[p];
        std::vector<std::uint32_t> around(3 * faces.size());  // half-edges leaving each point
        {
            std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
            for (std::uint32_t h = 0; h < around.size(); ++h)
                around[next[EdgeTable::from(faces, h)]++] = h;
        }

        std::vector<bool> keep(faces.size(), true);
        bool any = false;
        std::vector<std::uint32_t> fan;
        std::vector<std::uint32_t> sizes;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> atEdge;  // edge at v, face around v
        for (std::size_t v = 0; v < pointCount; ++v) {
            const std::uint32_t begin = first[v], count = first[v + 1] - first[v];
            if (count < 2)
                continue;
            // fan[i]: the first of the faces around v that face i is joined
            // to through edges at v
            fan.resize(count);
            for (std::uint32_t i = 0; i < count; ++i)
                fan[i] = i;
            auto rootOf = [&fan](std::uint32_t i) {
                while (fan[i] != i)
                    i = fan[i] = fan[fan[i]];
                return i;
            };
            // Faces around v that share an edge at v are one fan; sorting
            // the edges keeps a point with thousands of faces quick.
            atEdge.clear();
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t h = around[begin + i];  // leaves v
                atEdge.push_back({table.edgeOf(h), i});
                atEdge.push_back({table.edgeOf(3 * (h / 3) + (h % 3 + 2) % 3), i});  // comes into v
            }
            std::sort(atEdge.begin(), atEdge.end());
            for (std::size_t i = 1; i < atEdge.size(); ++i) {
                if (atEdge[i].first == atEdge[i - 1].first) {
                    const std::uint32_t a = rootOf(atEdge[i - 1].second), b = rootOf(atEdge[i].second);
                    fan[std::max(a, b)] = std::min(a, b);
                }
            }
            sizes.assign(count, 0);
            for (std::uint32_t i = 0; i < count; ++i)
                ++sizes[rootOf(i)];
            std::uint32_t best = 0;
            for (std::uint32_t i = 1; i < count; ++i)
                if (sizes[i] > sizes[best])
                    best = i;
            for (std::uint32_t i = 0; i < count; ++i) {
                if (rootOf(i) != best && keep[around[begin + i] / 3]) {
                    keep[around[begin + i] / 3] = false;
                    any = true;
                }
            }
        }
        if (!any)
            return removed;
        removed += keepMarked(faces, keep);
    }
}

// Drops every component of less than a hundredth of the largest one's
// faces: such a shred lies in a gap of a larger part, where the hole
// filling would otherwise cover it over.
std::uint64_t removeShreds(Faces& faces, std::size_t pointCount)
{
    const EdgeTable table(faces, pointCount);
    std::vector<std::uint32_t> part(faces.size());
    for (std::uint32_t f = 0; f < faces.size(); ++f)
        part[f] = f;
    auto rootOf = [&part](std::uint32_t i) {
        while (part[i] != i)
            i = part[i] = part[part[i]];
        return i;
    };
    for (std::size_t e = 0; e < table.edgeCount(); ++e) {
        for (std::uint32_t i = 1; i < table.uses(e); ++i) {
            const std::uint32_t a = rootOf(table.use(e, 0) / 3), b = rootOf(table.use(e, i) / 3);
            part[std::max(a, b)] = std::min(a, b);
        }
    }
    std::vector<std::size_t> size(faces.size(), 0);
    std::size_t largest = 0;
    for (std::uint32_t f = 0; f < faces.size(); ++f)
        largest = std::max(largest, ++size[rootOf(f)]);
    std::vector<bool> keep(faces.size());
    bool any = false;
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        keep[f] = 100 * size[rootOf(f)] >= largest;
        any = any || !keep[f];
    }
    return any ? keepMarked(faces, keep) : 0;
}

std::uint64_t edgeKey(std::uint32_t a, std::uint32_t b)
{
    return (std::uint64_t{std::min(a, b)} << 32) | std::max(a, b);
}

// The hole loops: closed walks along boundary edges, each run opposite to
// the face beside it, split where a walk comes back to a point it passed,
// so that every loop visits each of its points once. loops[i][k] is a
// point, and the face beside the edge from it to the next point is the
// face of sides[i][k].
struct Loops {
    std::vector<std::vector<std::uint32_t>> points;
    std::vector<std::vector<std::uint32_t>> sides;  // half-edges of the faces beside the loop
};

Loops findLoops(const Faces& faces, const EdgeTable& table)
{
    // Boundary half-edges, by the point the hole's edge leaves (their end).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (std::size_t e = 0; e < table.edgeCount(); ++e)
        if (table.uses(e) == 1)
            out.push_back({EdgeTable::to(faces, table.use(e, 0)), table.use(e, 0)});
    std::sort(out.begin(), out.end());
    std::vector<bool> used(out.size(), false);
    auto firstFrom = [&out](std::uint32_t point) {
        return std::lower_bound(out.begin(), out.end(), std::make_pair(point, std::uint32_t{0})) - out.begin();
    };

    Loops loops;
    std::vector<std::uint32_t> points, sides;
    std::unordered_map<std::uint32_t, std::size_t> placeOf;
    for (std::size_t start = 0; start < out.size(); ++start) {
        if (used[start])
            continue;
        points.clear();
        sides.clear();
        placeOf.clear();
        std::size_t take = start;
        for (;;) {
            used[take] = true;
            placeOf[out[take].first] = points.size();
            points.push_back(out[take].first);
            sides.push_back(out[take].second);
            const std::uint32_t at = EdgeTable::from(faces, out[take].second);
            const auto found = placeOf.find(at);
            if (found != placeOf.end()) {
                const std::size_t j = found->second;
                loops.points.emplace_back(points.begin() + static_cast<std::ptrdiff_t>(j), points.end());
                loops.sides.emplace_back(sides.begin() + static_cast<std::ptrdiff_t>(j), sides.end());
                for (std::size_t k = j; k < points.size(); ++k)
                    placeOf.erase(points[k]);
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

// Closes hole loops with triangles over their own points. One loop at a
// time, so that each sees the edges the ones before it added.
class HoleFiller {
public:
    HoleFiller(const Surface& surface, const EdgeTable& table, Faces& added)
        : positions_(surface.positions), faces_(surface.faces), table_(table), added_(added)
    {
    }

    // How many faces closed the loop; 0 when every way of closing it would
    // give an edge a third face, make a duplicate or fold back onto a face
    // beside the hole.
    std::size_t fill(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides);

private:
    struct Cost {
        double worstAngle = 0.0;  // the largest angle between the normals of neighbouring faces
        double area = 0.0;
        bool operator<(const Cost& other) const
        {
            return worstAngle < other.worstAngle || (worstAngle == other.worstAngle && area < other.area);
        }
    };

    bool edgeFree(std::uint32_t a, std::uint32_t b) const
    {
        return table_.find(a, b) == table_.edgeCount() && addedEdges_.count(edgeKey(a, b)) == 0;
    }

    const std::vector<CGVertex>& positions_;
    const Faces& faces_;
    const EdgeTable& table_;
    Faces& added_;
    std::unordered_set<std::uint64_t> addedEdges_;
};

double angleBetween(const CGVector& a, const CGVector& b)
{
    const double la = length(a), lb = length(b);
    if (!(la > 0.0) || !(lb > 0.0))
        return kPi;
    return std::acos(std::max(-1.0, std::min(1.0, dot(a, b) / (la * lb))));
}

std::size_t HoleFiller::fill(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides)
{
    const std::size_t n = loop.size();
    if (n == 3) {
        // Three boundary edges around one face only: closing them would
        // put the same face there twice.
        if (thirdCorner(faces_, sides[0]) == loop[2])
            return 0;
        const Face face = {loop[0], loop[1], loop[2]};
        if (!(length(faceCross(positions_, face)) > 0.0))
            return 0;
        added_.push_back(face);
        return 1;
    }

    // best[i][j]: the least cost of closing the loop's points i..j against
    // the chord j-i, and the point the triangle on that chord takes.
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Cost> cost(n * n, Cost{inf, inf});
    std::vector<std::uint32_t> apex(n * n, kNone);
    std::vector<CGVector> normal(n * n);
    std::vector<bool> chordFree(n * n, false);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 2; j < n; ++j)
            chordFree[i * n + j] = (i == 0 && j == n - 1) || edgeFree(loop[i], loop[j]);
    std::vector<CGVector> sideNormal(n);
    for (std::size_t i = 0; i < n; ++i) {
        sideNormal[i] = faceCross(positions_, faces_[EdgeTable::faceOf(sides[i])]);
        if (i + 1 < n)
            cost[i * n + i + 1] = Cost{};
    }
    auto neighbour = [&](std::size_t i, std::size_t j) { return j == i + 1 ? sideNormal[i] : normal[i * n + j]; };

    for (std::size_t span = 2; span < n; ++span) {
        for (std::size_t i = 0; i + span < n; ++i) {
            const std::size_t j = i + span;
            if (!chordFree[i * n + j])
                continue;
            for (std::size_t m = i + 1; m < j; ++m) {
                const Cost& left = cost[i * n + m];
                const Cost& right = cost[m * n + j];
                if (left.area == inf || right.area == inf)
                    continue;
                const CGVector t = faceCross(positions_, {loop[i], loop[m], loop[j]});
                if (!(length(t) > 0.0))
                    continue;
                // Against a face already there, a triangle must not fold
                // back over it, as it would when capping a small patch
                // from behind.
                const double toLeft = angleBetween(t, neighbour(i, m));
                const double toRight = angleBetween(t, neighbour(m, j));
                const double toClosing = i == 0 && j == n - 1 ? angleBetween(t, sideNormal[n - 1]) : 0.0;
                if ((m == i + 1 && toLeft > kFoldAngle) || (j == m + 1 && toRight > kFoldAngle) ||
                    toClosing > kFoldAngle)
                    continue;
                Cost c;
                c.worstAngle = std::max({left.worstAngle, right.worstAngle, toLeft, toRight, toClosing});
                c.area = left.area + right.area + 0.5 * length(t);
                if (c < cost[i * n + j]) {
                    cost[i * n + j] = c;
                    apex[i * n + j] = static_cast<std::uint32_t>(m);
                    normal[i * n + j] = t;
                }
            }
        }
    }
    if (apex[n - 1] == kNone)
        return 0;

    const std::size_t before = added_.size();
    std::vector<std::pair<std::size_t, std::size_t>> open{{0, n - 1}};
    while (!open.empty()) {
        const auto [i, j] = open.back();
        open.pop_back();
        const std::size_t m = apex[i * n + j];
        added_.push_back({loop[i], loop[m], loop[j]});
        for (const auto& [a, b] : {std::make_pair(i, m), std::make_pair(m, j)}) {
            if (b > a + 1) {
                addedEdges_.insert(edgeKey(loop[a], loop[b]));
                open.push_back({a, b});
            }
        }
    }
    return added_.size() - before;
}

}  // namespace

RepairCounts repairSurface(Surface& surface, std::size_t maxHoleEdges, Progress* progress)
{
    Progress unwatched;
    Progress& steps = progress != nullptr ? *progress : unwatched;
    steps.begin(Progress::Stage::Repairing, 4);
    RepairCounts counts;
    Faces& faces = surface.faces;
    const std::size_t pointCount = surface.positions.size();

    // Each step reads the edges as the step before left them; the table is
    // built again only when a step changed the faces.
    EdgeTable table(faces, pointCount);
    counts.removedDuplicates = removeDuplicates(faces, table);
    if (counts.removedDuplicates > 0)
        table = EdgeTable(faces, pointCount);
    steps.advance(1);
    // A surface whose every edge has at most two faces, run opposite ways,
    // needs no faces taken away: at most its holes want closing.
    if (!windsOneWay(table)) {
        counts.removedFoldOvers = removeFoldOvers(surface, faces, table);
        if (counts.removedFoldOvers > 0)
            table = EdgeTable(faces, pointCount);
        counts.removedFoldOvers += ManifoldGrowth(surface, faces, table).run(counts.flippedFaces);
        counts.removedPieces += removePinches(faces, pointCount);
        counts.removedPieces += removeShreds(faces, pointCount);
        table = EdgeTable(faces, pointCount);
    }
    steps.advance(1);

    const Loops loops = findLoops(faces, table);
    steps.advance(1);
    Faces added;
    HoleFiller filler(surface, table, added);
    for (std::size_t i = 0; i < loops.points.size(); ++i) {
        if (loops.points[i].size() > std::min(maxHoleEdges, kMaxHoleEdges) || loops.points[i].size() < 3)
            continue;
        if (const std::size_t made = filler.fill(loops.points[i], loops.sides[i])) {
            ++counts.filledHoles;
            counts.facesAdded += made;
        } else {
            ++counts.holesLeftOpen;
        }
    }
    faces.insert(faces.end(), added.begin(), added.end());
    return counts;
}
