#include "repair/EdgeFlips.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/SurfaceMath.h"
#include "repair/ThreadParts.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

// A new pair may bend by this much where the old pair was flatter: the
// surface's own curvature between neighbouring samples.
const double kFlatBend = std::cos(20.0 * 3.14159265358979323846 / 180.0);

// Pairs whose faces all have angles above this are left alone: turning
// them buys little and costs the time of every test below.
const double kWorthTurning = std::cos(20.0 * 3.14159265358979323846 / 180.0);

double cosineBetween(const CGVector& a, const CGVector& b)
{
    const double la = length(a), lb = length(b);
    if (!(la > 0.0) || !(lb > 0.0))
        return -1.0;
    return dot(a, b) / (la * lb);
}

// Whether the two new faces of a turned edge meet no face but the two
// they replace; one query over the quad's box serves both.
bool meetsNothing(const std::vector<CGVertex>& positions, const Faces& faces, const FaceBoxTree& tree,
                  const Face& first, const Face& second, std::uint32_t skipA, std::uint32_t skipB,
                  std::vector<std::uint32_t>& near)
{
    const Box a = boxOf(positions, first), b = boxOf(positions, second);
    Box both;
    for (int k = 0; k < 3; ++k) {
        both.low[k] = std::min(a.low[k], b.low[k]);
        both.high[k] = std::max(a.high[k], b.high[k]);
    }
    near.clear();
    tree.query(both, near);
    for (std::uint32_t k : near) {
        if (k == skipA || k == skipB)
            continue;
        const Box& other = tree.faceBox(k);
        if ((a.meets(other) && facesIntersect(positions, first, faces[k])) ||
            (b.meets(other) && facesIntersect(positions, second, faces[k])))
            return false;
    }
    return true;
}

}  // namespace

std::uint64_t flipSlivers(const Surface& surface, Faces& faces, int passes)
{
    FaceBoxTree tree(surface.positions, faces);
    EdgeTable table(faces, surface.positions.size());
    return flipSlivers(surface, faces, tree, table, passes);
}

namespace {

// Whether turning edge e of the table, between faces f and g as they stand,
// passes every test that reads those two faces alone: winding, angles,
// normals, bend, and the two new faces crossing each other.
bool turnsOnItsOwn(const Surface& surface, const Faces& faces, const EdgeTable& table, const std::vector<double>& worst,
                   std::size_t e)
{
    const std::vector<CGVertex>& positions = surface.positions;
    const std::uint32_t h = table.use(e, 0), k = table.use(e, 1);
    const std::uint32_t f = EdgeTable::faceOf(h), g = EdgeTable::faceOf(k);
    if (table.runsUp(e, 0) == table.runsUp(e, 1))
        return false;
    const double oldWorst = std::max(worst[f], worst[g]);
    if (oldWorst < kWorthTurning)
        return false;
    const std::uint32_t a = EdgeTable::from(faces, h), b = EdgeTable::to(faces, h);
    const std::uint32_t c = table.across(e, 0), d = table.across(e, 1);
    if (c == d)
        return false;
    const Face nf = {a, d, c}, ng = {d, b, c};
    const double newWorst = std::max(smallestAngleCosine(positions, nf), smallestAngleCosine(positions, ng));
    if (!(newWorst < oldWorst))
        return false;
    const CGVector of = faceCross(positions, faces[f]), og = faceCross(positions, faces[g]);
    const CGVector nfn = faceCross(positions, nf), ngn = faceCross(positions, ng);
    const CGVector oldSum = of + og;
    if (!(dot(nfn, oldSum) > 0.0) || !(dot(ngn, oldSum) > 0.0))
        return false;
    if (!(faceAgreement(surface, nf) > 0.0) || !(faceAgreement(surface, ng) > 0.0))
        return false;
    if (cosineBetween(nfn, ngn) < std::min(cosineBetween(of, og), kFlatBend))
        return false;
    return !facesIntersect(positions, nf, ng);
}

// Below this many edges a thread costs more to start than it saves.
constexpr std::size_t kEdgesWorthAThread = 30000;

}  // namespace

std::uint64_t flipSlivers(const Surface& surface, Faces& faces, FaceBoxTree& tree, EdgeTable& table, int passes,
                          bool tableAfter, unsigned threads)
{
    const std::vector<CGVertex>& positions = surface.positions;
    std::uint64_t flips = 0;
    std::unordered_set<std::uint64_t> made;  // edges this sweep drew, which its table does not know
    std::vector<std::uint32_t> near;
    std::vector<std::uint32_t> turned;  // faces the last sweep changed, which the table learns before the next
    std::vector<bool> touched(faces.size(), false);
    std::vector<double> worst(faces.size());
    const unsigned faceParts = faces.size() < kEdgesWorthAThread ? 1 : std::max(1u, std::min(threads, 8u));
    forEachPart(faceParts, [&](unsigned part) {
        const std::size_t last = partStart(faces.size(), part + 1, faceParts);
        for (std::size_t f = partStart(faces.size(), part, faceParts); f < last; ++f)
            worst[f] = smallestAngleCosine(positions, faces[f]);
    });
    // By half-edge (the first on its edge): whether the last sweep turned
    // the edge down on its own two faces alone, as it will again while
    // neither face changes; and the same, as this sweep finds it.
    std::vector<std::uint8_t> settled, settling(3 * faces.size(), 0);
    std::vector<std::uint8_t> onItsOwn;  // by edge: turnsOnItsOwn as the sweep begins
    for (int pass = 0; pass < passes; ++pass) {
        // each sweep reads the edges as they were when it began
        table.update(faces, turned);
        // the faces the last sweep turned, which keep their marks for this one
        const std::vector<bool> turnedBefore = touched;
        for (const std::uint32_t f : turned)
            worst[f] = smallestAngleCosine(positions, faces[f]);
        turned.clear();
        touched.assign(faces.size(), false);
        settled.swap(settling);
        settling.assign(3 * faces.size(), 0);
        made.clear();
        // The tests on an edge's own two faces, for every edge at once, as
        // the sweep would find them: the sweep passes over an edge once a
        // face of it has turned, and every other face stands as it began.
        onItsOwn.assign(table.edgeCount(), 0);
        const std::size_t edges = table.edgeCount();
        const unsigned parts = edges < kEdgesWorthAThread ? 1 : std::max(1u, std::min(threads, 8u));
        forEachPart(parts, [&](unsigned part) {
            for (std::size_t e = partStart(edges, part, parts); e < partStart(edges, part + 1, parts); ++e) {
                if (table.uses(e) != 2)
                    continue;
                const std::uint32_t h = table.use(e, 0);
                const std::uint32_t f = EdgeTable::faceOf(h), g = EdgeTable::faceOf(table.use(e, 1));
                if (settled[h] != 0 && !turnedBefore[f] && !turnedBefore[g]) {
                    settling[h] = 1;
                    continue;
                }
                onItsOwn[e] = turnsOnItsOwn(surface, faces, table, worst, e) ? 1 : 0;
                settling[h] = onItsOwn[e] == 0 ? 1 : 0;
            }
        });
        const std::uint64_t before = flips;
        for (std::size_t e = 0; e < edges; ++e) {
            if (onItsOwn[e] == 0)
                continue;
            const std::uint32_t h = table.use(e, 0), k = table.use(e, 1);
            const std::uint32_t f = EdgeTable::faceOf(h), g = EdgeTable::faceOf(k);
            if (touched[f] || touched[g])
                continue;
            const std::uint32_t a = EdgeTable::from(faces, h), b = EdgeTable::to(faces, h);
            const std::uint32_t c = table.across(e, 0), d = table.across(e, 1);
            if (table.find(c, d) != table.edgeCount() ||
                made.count((std::uint64_t{std::min(c, d)} << 32) | std::max(c, d)) != 0)
                continue;
            const Face nf = {a, d, c}, ng = {d, b, c};
            if (!meetsNothing(positions, faces, tree, nf, ng, f, g, near))
                continue;
            faces[f] = nf;
            faces[g] = ng;
            tree.refresh(f);
            tree.refresh(g);
            touched[f] = touched[g] = true;
            turned.push_back(f);
            turned.push_back(g);
            made.insert((std::uint64_t{std::min(c, d)} << 32) | std::max(c, d));
            ++flips;
        }
        if (flips == before)
            break;
    }
    if (tableAfter)
        table.update(faces, turned);
    return flips;
}
