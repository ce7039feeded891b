#include "repair/SurfaceRepair.h"

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

bool sameCorners(Face a, Face b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

std::uint64_t removeDuplicates(Faces& faces, const EdgeTable& table)
{
    std::vector<bool> keep(faces.size(), true);
    bool any = false;
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        if (face[0] == face[1] || face[1] == face[2] || face[2] == face[0]) {
            keep[f] = false;
            any = true;
            continue;
        }
        // A duplicate shares every edge with its original.
        const std::size_t e = table.edgeOf(3 * f);
        for (std::uint32_t i = 0; i < table.uses(e); ++i) {
            const std::uint32_t other = EdgeTable::faceOf(table.use(e, i));
            if (other >= f)
                break;
            if (keep[other] && sameCorners(faces[other], face)) {
                keep[f] = false;
                any = true;
                break;
            }
        }
    }
    return any ? keepMarked(faces, keep) : 0;
}

// How well the face's plane fits its corners' normals: the sum of the
// cosines between the face normal and each usable corner normal.
double agreement(const Surface& surface, const Face& face)
{
    const CGVector n = faceCross(surface.positions, face);
    const double nl = length(n);
    if (!(nl > 0.0))
        return -3.0;  // no plane at all: the first to go
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

// Winds every component that has an edge run the same way by both its
// faces one way: the orientation spreads from the component's first face
// across edges of two faces, then the whole component turns over if most
// of its area disagrees with the point normals. Components already wound
// one way are left as they are.
std::uint64_t orientComponents(const Surface& surface, Faces& faces, const EdgeTable& table)
{
    const std::uint32_t noComponent = kNone;
    std::vector<std::uint32_t> component(faces.size(), noComponent);
    std::vector<bool> flip(faces.size(), false);
    std::vector<std::uint32_t> members;
    std::uint64_t flipped = 0;
    for (std::uint32_t seed = 0; seed < faces.size(); ++seed) {
        if (component[seed] != noComponent)
            continue;
        members.assign(1, seed);
        component[seed] = seed;
        bool mixed = false;
        for (std::size_t next = 0; next < members.size(); ++next) {
            const std::uint32_t f = members[next];
            for (std::uint32_t k = 0; k < 3; ++k) {
                const std::uint32_t h = 3 * f + k;
                const std::uint32_t e = table.edgeOf(h);
                if (table.uses(e) != 2)
                    continue;
                const std::uint32_t g = table.use(e, 0) == h ? table.use(e, 1) : table.use(e, 0);
                const std::uint32_t o = EdgeTable::faceOf(g);
                const bool sameWay = EdgeTable::from(faces, g) == EdgeTable::from(faces, h);
                mixed = mixed || sameWay;
                if (component[o] != noComponent)
                    continue;
                component[o] = seed;
                flip[o] = flip[f] != sameWay;
                members.push_back(o);
            }
        }
        if (!mixed)
            continue;

        double agreeing = 0.0, disagreeing = 0.0;
        for (std::uint32_t f : members) {
            const Face& face = faces[f];
            const CGVector n = faceCross(surface.positions, face);
            CGVector sum;
            for (std::uint32_t corner : face) {
                const CGVector& m = surface.normals[corner];
                const double ml = length(m);
                if (ml > 0.0 && std::isfinite(ml))
                    sum = sum + m * (1.0 / ml);
            }
            const double area = 0.5 * length(n);
            const double d = dot(n, sum);
            if (d == 0.0 || std::isnan(d))
                continue;
            if ((d > 0.0) != flip[f])
                agreeing += area;
            else
                disagreeing += area;
        }
        const bool turnOver = disagreeing > agreeing;
        for (std::uint32_t f : members) {
            if (flip[f] != turnOver) {
                std::swap(faces[f][1], faces[f][2]);
                ++flipped;
            }
        }
    }
    return flipped;
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

    // False when every triangulation would reuse an edge or make a duplicate.
    bool fill(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides);

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

bool HoleFiller::fill(const std::vector<std::uint32_t>& loop, const std::vector<std::uint32_t>& sides)
{
    const std::size_t n = loop.size();
    if (n == 3) {
        // Three boundary edges around one face only: closing them would
        // put the same face there twice.
        if (thirdCorner(faces_, sides[0]) == loop[2])
            return false;
        const Face face = {loop[0], loop[1], loop[2]};
        if (!(length(faceCross(positions_, face)) > 0.0))
            return false;
        added_.push_back(face);
        return true;
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
    auto neighbour = [&](std::size_t i, std::size_t j) {
        return j == i + 1 ? sideNormal[i] : normal[i * n + j];
    };

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
                Cost c;
                c.worstAngle = std::max({left.worstAngle, right.worstAngle, angleBetween(t, neighbour(i, m)),
                                         angleBetween(t, neighbour(m, j))});
                if (i == 0 && j == n - 1)
                    c.worstAngle = std::max(c.worstAngle, angleBetween(t, sideNormal[n - 1]));
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
        return false;

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
    return true;
}

}  // namespace

RepairCounts repairSurface(Surface& surface, std::size_t maxHoleEdges)
{
    RepairCounts counts;
    Faces& faces = surface.faces;
    const std::size_t pointCount = surface.positions.size();

    // Each step reads the edges as the step before left them; the table is
    // built again only when a step changed the faces.
    EdgeTable table(faces, pointCount);
    counts.removedDuplicates = removeDuplicates(faces, table);
    if (counts.removedDuplicates > 0)
        table = EdgeTable(faces, pointCount);
    counts.removedFoldOvers = removeFoldOvers(surface, faces, table);
    if (counts.removedFoldOvers > 0)
        table = EdgeTable(faces, pointCount);
    counts.flippedFaces = orientComponents(surface, faces, table);
    if (counts.flippedFaces > 0)
        table = EdgeTable(faces, pointCount);

    const Loops loops = findLoops(faces, table);
    Faces added;
    HoleFiller filler(surface, table, added);
    for (std::size_t i = 0; i < loops.points.size(); ++i) {
        if (loops.points[i].size() > maxHoleEdges || loops.points[i].size() < 3)
            continue;
        const std::size_t before = added.size();
        if (filler.fill(loops.points[i], loops.sides[i])) {
            ++counts.filledHoles;
            counts.facesAdded += added.size() - before;
        } else {
            ++counts.holesLeftOpen;
        }
    }
    faces.insert(faces.end(), added.begin(), added.end());
    return counts;
}
