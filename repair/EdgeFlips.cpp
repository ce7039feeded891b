#include "repair/EdgeFlips.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/SurfaceMath.h"
#include "repair/ThreadParts.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
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

Box quadBox(const std::vector<CGVertex>& positions, const Face& first, const Face& second)
{
    const Box a = boxOf(positions, first), b = boxOf(positions, second);
    Box both;
    for (int k = 0; k < 3; ++k) {
        both.low[k] = std::min(a.low[k], b.low[k]);
        both.high[k] = std::max(a.high[k], b.high[k]);
    }
    return both;
}

// Whether the two new faces of a turned edge meet no face but the two
// they replace; one query over the quad's box serves both.
bool meetsNothing(const std::vector<CGVertex>& positions, const Faces& faces, const FaceBoxTree& tree,
                  const Face& first, const Face& second, std::uint32_t skipA, std::uint32_t skipB,
                  std::vector<std::uint32_t>& near)
{
    const Box a = boxOf(positions, first), b = boxOf(positions, second);
    near.clear();
    tree.query(quadBox(positions, first, second), near);
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

// The quads a sweep turned, in a grid of cells, so a sweep can ask
// whether any of them comes near a box without a query over every face.
class TurnedQuads {
public:
    // Cells about twice a face's usual size: most quads fall in one to
    // eight. A grid over no faces, or over a point off the finite numbers
    // (whose boxes meet everything), is of no use.
    TurnedQuads(const std::vector<CGVertex>& positions, const Faces& faces)
    {
        if (faces.empty())
            return;
        double extent = 0.0;
        for (const Face& face : faces) {
            const Box box = boxOf(positions, face);
            extent += std::max({box.high[0] - box.low[0], box.high[1] - box.low[1], box.high[2] - box.low[2]});
        }
        cell_ = 2.0 * extent / static_cast<double>(faces.size());
        for (int k = 0; k < 3; ++k)
            low_[k] = coordinate(positions[faces[0][0]], k);
        for (const CGVertex& p : positions)
            for (int k = 0; k < 3; ++k) {
                if (!std::isfinite(coordinate(p, k)))
                    cell_ = 0.0;
                low_[k] = std::min(low_[k], coordinate(p, k));
            }
    }

    // Whether the grid can tell anything: false on faces of no size.
    bool usable() const { return cell_ > 0.0 && std::isfinite(cell_); }

    void clear()
    {
        cells_.clear();
        wide_.clear();
        quads_.clear();
        seen_.clear();
    }

    // Takes the quad of two faces just turned.
    void add(const Box& quad, std::uint32_t f, std::uint32_t g)
    {
        const auto index = static_cast<std::uint32_t>(quads_.size());
        quads_.push_back({quad, f, g});
        seen_.push_back(0);
        Span span;
        if (!spanOf(quad, span)) {
            wide_.push_back(index);
            return;
        }
        forEachCell(span, [&](std::uint64_t key) {
            cells_[key].push_back(index);
            return false;
        });
    }

    // Calls visit(face) for the two faces of each quad taken since the last
    // clear whose box meets the box, until visit returns true; returns
    // whether it did.
    template <class Visit>
    bool anyNear(const Box& box, Visit&& visit)
    {
        ++stamp_;
        const auto quadNear = [&](std::uint32_t q) {
            if (seen_[q] == stamp_ || !quads_[q].box.meets(box))
                return false;
            seen_[q] = stamp_;
            return visit(quads_[q].first) || visit(quads_[q].second);
        };
        if (std::any_of(wide_.begin(), wide_.end(), quadNear))
            return true;
        if (quads_.size() == wide_.size())
            return false;
        Span span;
        if (!spanOf(box, span)) {
            for (std::uint32_t q = 0; q < quads_.size(); ++q)
                if (quadNear(q))
                    return true;
            return false;
        }
        return forEachCell(span, [&](std::uint64_t key) {
            const auto it = cells_.find(key);
            return it != cells_.end() && std::any_of(it->second.begin(), it->second.end(), quadNear);
        });
    }

private:
    static constexpr std::uint32_t kMostCells = (1u << 21) - 1;  // per axis, so a key fits 63 bits
    static constexpr std::uint32_t kWidestSpan = 4;              // cells per axis before a box counts as wide

    struct Span {
        std::uint32_t low[3];
        std::uint32_t high[3];
    };

    static double coordinate(const CGVertex& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

    std::uint32_t cellOf(double x, int axis) const
    {
        const double at = std::floor((x - low_[axis]) / cell_);
        return !(at >= 0.0) ? 0 : at >= kMostCells ? kMostCells : static_cast<std::uint32_t>(at);
    }

    // The cells the box covers; false when they are too many to list.
    bool spanOf(const Box& box, Span& span) const
    {
        for (int k = 0; k < 3; ++k) {
            span.low[k] = cellOf(box.low[k], k);
            span.high[k] = cellOf(box.high[k], k);
            if (span.high[k] - span.low[k] >= kWidestSpan)
                return false;
        }
        return true;
    }

    // Calls visit(key) for each cell of the span until it returns true.
    template <class Visit>
    static bool forEachCell(const Span& span, Visit&& visit)
    {
        for (std::uint64_t x = span.low[0]; x <= span.high[0]; ++x)
            for (std::uint64_t y = span.low[1]; y <= span.high[1]; ++y)
                for (std::uint64_t z = span.low[2]; z <= span.high[2]; ++z)
                    if (visit(x << 42 | y << 21 | z))
                        return true;
        return false;
    }

    double cell_ = 0.0;
    double low_[3] = {0.0, 0.0, 0.0};
    struct Quad {
        Box box;
        std::uint32_t first, second;
    };
    std::vector<Quad> quads_;
    std::vector<std::uint32_t> seen_;  // by quad: the last stamp that visited it
    std::uint32_t stamp_ = 0;
    std::vector<std::uint32_t> wide_;  // quads over too many cells to list
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> cells_;
};

// What the tests ahead of a sweep found for an edge.
enum Ahead : std::uint8_t {
    kStays,    // it fails a test on its own two faces
    kMayTurn,  // it passes those; the crossings are tested as the sweep reaches it
    kClear,    // it passes those and meets no face as the sweep began
    kBlocked,  // it passes those but meets a face as the sweep began
};

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
    for (std::size_t f = 0; f < faces.size(); ++f)
        worst[f] = smallestAngleCosine(positions, faces[f]);
    // By half-edge (the first on its edge): whether the last sweep turned
    // the edge down on its own two faces alone, as it will again while
    // neither face changes; and the same, as this sweep finds it.
    std::vector<std::uint8_t> settled, settling(3 * faces.size(), 0);
    std::vector<std::uint8_t> onItsOwn;  // by edge: an Ahead, as the sweep begins
    // the crossings are tested ahead only on more than one thread
    const Faces noFaces;
    TurnedQuads turnedQuads(positions, threads > 1 ? faces : noFaces);
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
        onItsOwn.assign(table.edgeCount(), kStays);
        const std::size_t edges = table.edgeCount();
        const unsigned parts = edges < kEdgesWorthAThread ? 1 : std::max(1u, std::min(threads, 8u));
        // On more than one thread the crossings are tested ahead too, against
        // the faces as the sweep began; the sweep tests again only where a
        // face near the edge has turned since.
        const bool ahead = parts > 1 && turnedQuads.usable();
        turnedQuads.clear();
        forEachPart(parts, [&](unsigned part) {
            std::vector<std::uint32_t> found;
            for (std::size_t e = partStart(edges, part, parts); e < partStart(edges, part + 1, parts); ++e) {
                if (table.uses(e) != 2)
                    continue;
                const std::uint32_t h = table.use(e, 0);
                const std::uint32_t f = EdgeTable::faceOf(h), g = EdgeTable::faceOf(table.use(e, 1));
                if (settled[h] != 0 && !turnedBefore[f] && !turnedBefore[g]) {
                    settling[h] = 1;
                    continue;
                }
                const bool own = turnsOnItsOwn(surface, faces, table, worst, e);
                settling[h] = own ? 0 : 1;
                if (!own)
                    continue;
                onItsOwn[e] = kMayTurn;
                const std::uint32_t c = table.across(e, 0), d = table.across(e, 1);
                // an edge that is there already stays so all sweep
                if (!ahead || table.find(c, d) != table.edgeCount())
                    continue;
                const Face nf = {EdgeTable::from(faces, h), d, c}, ng = {d, EdgeTable::to(faces, h), c};
                onItsOwn[e] = meetsNothing(positions, faces, tree, nf, ng, f, g, found) ? kClear : kBlocked;
            }
        });
        const std::uint64_t before = flips;
        for (std::size_t e = 0; e < edges; ++e) {
            if (onItsOwn[e] == kStays)
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
            bool clear = false;
            if (onItsOwn[e] != kClear) {
                // not tested ahead, or a face found in the way then may have
                // turned away since
                clear = meetsNothing(positions, faces, tree, nf, ng, f, g, near);
            } else {
                // The test ahead read every face as the sweep began: it holds
                // but for the faces turned since, whose quads' boxes hold them
                // as they are now.
                const Box boxF = boxOf(positions, nf), boxG = boxOf(positions, ng);
                clear = !turnedQuads.anyNear(quadBox(positions, nf, ng), [&](std::uint32_t o) {
                    const Box other = boxOf(positions, faces[o]);
                    return (boxF.meets(other) && facesIntersect(positions, nf, faces[o])) ||
                           (boxG.meets(other) && facesIntersect(positions, ng, faces[o]));
                });
            }
            if (!clear)
                continue;
            if (ahead)
                turnedQuads.add(quadBox(positions, nf, ng), f, g);
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
