#include "repair/EdgeFlips.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/SurfaceMath.h"
#include "repair/ThreadParts.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
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
    near.clear();
    tree.query(merged(a, b), near);
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
// Below this many edges to try in a sweep, the sweep runs on one thread.
constexpr std::size_t kTurnsWorthAThread = 256;
constexpr std::uint32_t kNoTurn = 0xffffffffu;

// An edge the sweep will try to turn, as its faces stood when the sweep
// began: what the try reads is worked out ahead.
struct Turn {
    std::uint32_t f = 0, g = 0;  // the faces on the edge
    std::uint32_t c = 0, d = 0;  // the corners across it, the new edge's ends
    Face nf{}, ng{};             // the two faces turned
    Box first, second;           // their boxes
    Box quad;                    // the box of both
    unsigned part = 0;           // the thread that tries it
    // the place of the other thread's last earlier try whose faces this
    // one may read, which must be done first; or kNoTurn
    std::uint32_t after = kNoTurn;
};

bool finite(const Box& box)
{
    for (int k = 0; k < 3; ++k)
        if (!std::isfinite(box.low[k]) || !std::isfinite(box.high[k]))
            return false;
    return true;
}

// Turns the edge if no face of the sweep stands in the way, as the
// one-by-one sweep decides it: the tree is loosened so that a query over
// the quad finds every face that is or may come to be there, exact holds
// each face's box as it is now, and a face turned this sweep that holds
// both new ends means an earlier turn drew the new edge (the quad's sides
// are edges the table knew, which the try has ruled out).
bool tryTurn(const std::vector<CGVertex>& positions, Faces& faces, const FaceBoxTree& tree, std::vector<Box>& exact,
             std::vector<std::uint8_t>& touched, const Turn& t, std::vector<std::uint32_t>& near)
{
    if (touched[t.f] != 0 || touched[t.g] != 0)
        return false;
    near.clear();
    tree.query(t.quad, near);
    for (const std::uint32_t k : near) {
        if (k == t.f || k == t.g)
            continue;
        const Face& other = faces[k];
        if (touched[k] != 0 && std::find(other.begin(), other.end(), t.c) != other.end() &&
            std::find(other.begin(), other.end(), t.d) != other.end())
            return false;
        const Box& box = exact[k];
        if ((t.first.meets(box) && facesIntersect(positions, t.nf, other)) ||
            (t.second.meets(box) && facesIntersect(positions, t.ng, other)))
            return false;
    }
    faces[t.f] = t.nf;
    faces[t.g] = t.ng;
    exact[t.f] = t.first;
    exact[t.g] = t.second;
    touched[t.f] = touched[t.g] = 1;
    return true;
}

// Shares the turns between two threads, each trying its own in the
// sweep's order, and says which must wait for which so that the faces
// come out as one thread trying them all in order leaves them. A turn
// reads and writes faces whose loosened boxes lie inside its reach, so
// two turns whose reaches do not meet cannot see each other: the threads
// take the two sides of a plane, and only turns near it wait. False when
// the reaches are so wide that finding who waits would cost more than one
// thread saves; the sweep then runs on one.
bool shareTurns(std::vector<Turn>& turns, const std::vector<Box>& reach)
{
    std::vector<double> centres(turns.size());
    for (std::size_t i = 0; i < turns.size(); ++i)
        centres[i] = turns[i].quad.low[0] + turns[i].quad.high[0];
    auto middle = centres.begin() + static_cast<std::ptrdiff_t>(centres.size() / 2);
    std::nth_element(centres.begin(), middle, centres.end());
    const double cut = *middle;
    double highest0 = -std::numeric_limits<double>::infinity(), lowest1 = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < turns.size(); ++i) {
        turns[i].part = turns[i].quad.low[0] + turns[i].quad.high[0] < cut ? 0 : 1;
        double& edge = turns[i].part == 0 ? highest0 : lowest1;
        edge = turns[i].part == 0 ? std::max(edge, reach[i].high[0]) : std::min(edge, reach[i].low[0]);
    }
    // the turns whose reach runs into the other side's, by where they begin
    std::vector<std::uint32_t> border;
    for (std::size_t i = 0; i < turns.size(); ++i)
        if (turns[i].part == 0 ? reach[i].high[0] >= lowest1 : reach[i].low[0] <= highest0)
            border.push_back(static_cast<std::uint32_t>(i));
    std::sort(border.begin(), border.end(), [&reach](std::uint32_t x, std::uint32_t y) {
        return std::make_pair(reach[x].low[0], x) < std::make_pair(reach[y].low[0], y);
    });
    std::size_t budget = 64 * turns.size();
    for (std::size_t i = 0; i < border.size(); ++i) {
        const std::uint32_t x = border[i];
        for (std::size_t j = i + 1; j < border.size() && reach[border[j]].low[0] <= reach[x].high[0]; ++j) {
            if (budget-- == 0) {
                for (Turn& t : turns) {
                    t.part = 0;
                    t.after = kNoTurn;
                }
                return false;
            }
            const std::uint32_t y = border[j];
            if (turns[x].part == turns[y].part || !reach[x].meets(reach[y]))
                continue;
            const std::uint32_t earlier = std::min(x, y);
            Turn& later = turns[std::max(x, y)];
            if (later.after == kNoTurn || later.after < earlier)
                later.after = earlier;
        }
    }
    return true;
}

// Tries the turns on two threads as shareTurns split them; turnedAt says
// which turned.
void tryTurnsOnTwoThreads(const std::vector<CGVertex>& positions, Faces& faces, const FaceBoxTree& tree,
                          std::vector<Box>& exact, std::vector<std::uint8_t>& touched, const std::vector<Turn>& turns,
                          std::vector<std::uint8_t>& turnedAt)
{
    const auto total = static_cast<std::uint32_t>(turns.size());
    std::vector<std::uint32_t> own[2];
    for (std::uint32_t i = 0; i < total; ++i)
        own[turns[i].part].push_back(i);
    // Each thread's next turn still to try (total when it has tried all),
    // and whether it sleeps till the other's moves on: a line each, so
    // one's progress does not keep taking the line the other reads.
    struct alignas(64) Mark {
        std::atomic<std::uint32_t> next{0};
        std::atomic<bool> asleep{false};
    };
    Mark marks[2];
    for (unsigned part = 0; part < 2; ++part)
        marks[part].next.store(own[part].empty() ? total : own[part][0]);
    std::mutex sleeping;
    std::condition_variable wake;
    std::atomic<bool> failing{false};
    std::exception_ptr failed[2];
    const auto wakeOther = [&](unsigned part) {
        if (marks[1 - part].asleep.load()) {
            const std::lock_guard<std::mutex> lock(sleeping);
            wake.notify_all();
        }
    };
    // Waits till the other thread is past the turn: a short spin, as on an
    // idle machine it is a few turns away; then asleep, as on a busy one
    // it may not run until this one gives up its core. False on a failure.
    const auto waitPast = [&](unsigned part, std::uint32_t after) {
        const Mark& other = marks[1 - part];
        constexpr int kSpins = 1 << 14;
        for (int spin = 0; other.next.load() <= after; ++spin) {
            if (failing.load())
                return false;
            if (spin < kSpins)
                continue;
            std::unique_lock<std::mutex> lock(sleeping);
            marks[part].asleep.store(true);
            wake.wait(lock, [&] { return other.next.load() > after || failing.load(); });
            marks[part].asleep.store(false);
        }
        return !failing.load();
    };
    // what each thread turned, by place in its own list: a byte per turn
    // of one list would be written by both threads side by side
    std::vector<std::uint8_t> turnedHere[2] = {std::vector<std::uint8_t>(own[0].size(), 0),
                                               std::vector<std::uint8_t>(own[1].size(), 0)};
    const auto work = [&](unsigned part) {
        try {
            std::vector<std::uint32_t> near;
            near.reserve(256);
            const std::vector<std::uint32_t>& mine = own[part];
            for (std::size_t i = 0; i < mine.size(); ++i) {
                const Turn& t = turns[mine[i]];
                if (t.after != kNoTurn && !waitPast(part, t.after))
                    return;
                turnedHere[part][i] = tryTurn(positions, faces, tree, exact, touched, t, near) ? 1 : 0;
                marks[part].next.store(i + 1 < mine.size() ? mine[i + 1] : total);
                wakeOther(part);
            }
        } catch (...) {
            // memory running out reaches the caller, as on one thread
            failed[part] = std::current_exception();
            failing.store(true);
            const std::lock_guard<std::mutex> lock(sleeping);
            wake.notify_all();
        }
    };
    // The second thread's first turns may wait for the first's: where no
    // thread starts, this one tries every turn in order instead of taking
    // the second's share first.
    std::thread helper;
    try {
        helper = std::thread(work, 1u);
    } catch (const std::system_error&) {
        std::vector<std::uint32_t> near;
        for (std::uint32_t i = 0; i < total; ++i)
            turnedAt[i] = tryTurn(positions, faces, tree, exact, touched, turns[i], near) ? 1 : 0;
        return;
    }
    work(0);
    helper.join();
    for (const std::exception_ptr& failure : failed)
        if (failure)
            std::rethrow_exception(failure);
    for (unsigned part = 0; part < 2; ++part)
        for (std::size_t i = 0; i < own[part].size(); ++i)
            turnedAt[own[part][i]] = turnedHere[part][i];
}

}  // namespace

std::uint64_t flipSlivers(const Surface& surface, Faces& faces, FaceBoxTree& tree, EdgeTable& table, int passes,
                          bool tableAfter, unsigned threads)
{
    const std::vector<CGVertex>& positions = surface.positions;
    std::uint64_t flips = 0;
    std::unordered_set<std::uint64_t> made;  // edges this sweep drew, which its table does not know
    std::vector<std::uint32_t> near;
    std::vector<std::uint32_t> turned;  // faces the last sweep changed, which the table learns before the next
    std::vector<std::uint8_t> touched(faces.size(), 0);  // bytes, not bits: two threads write it side by side
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

    // One edge as the sweep comes to it, turned where nothing stands in
    // the way.
    const auto sweepOne = [&](std::size_t e) {
        const std::uint32_t h = table.use(e, 0), k = table.use(e, 1);
        const std::uint32_t f = EdgeTable::faceOf(h), g = EdgeTable::faceOf(k);
        if (touched[f] != 0 || touched[g] != 0)
            return false;
        const std::uint32_t a = EdgeTable::from(faces, h), b = EdgeTable::to(faces, h);
        const std::uint32_t c = table.across(e, 0), d = table.across(e, 1);
        if (table.find(c, d) != table.edgeCount() ||
            made.count((std::uint64_t{std::min(c, d)} << 32) | std::max(c, d)) != 0)
            return false;
        const Face nf = {a, d, c}, ng = {d, b, c};
        if (!meetsNothing(positions, faces, tree, nf, ng, f, g, near))
            return false;
        faces[f] = nf;
        faces[g] = ng;
        tree.refresh(f);
        tree.refresh(g);
        touched[f] = touched[g] = 1;
        turned.push_back(f);
        turned.push_back(g);
        made.insert((std::uint64_t{std::min(c, d)} << 32) | std::max(c, d));
        return true;
    };
    // The same sweep over the edges onItsOwn marks, shared between two
    // threads, counting the turns in count; false, with nothing changed,
    // where it would not pay or the boxes are not all finite, which the
    // loosened tree needs.
    std::vector<Box> exact;  // each face's box as it stands, while the tree holds looser ones
    const auto sweepOnTwoThreads = [&](std::size_t edges, std::uint64_t& count) {
        if (threads < 2)
            return false;
        std::vector<Turn> turns;
        for (std::size_t e = 0; e < edges; ++e) {
            if (onItsOwn[e] == 0)
                continue;
            const std::uint32_t h = table.use(e, 0), k = table.use(e, 1);
            Turn t;
            t.f = EdgeTable::faceOf(h);
            t.g = EdgeTable::faceOf(k);
            t.c = table.across(e, 0);
            t.d = table.across(e, 1);
            // an edge the table knows stays so all sweep: no try can draw it
            if (table.find(t.c, t.d) != table.edgeCount())
                continue;
            t.nf = {EdgeTable::from(faces, h), t.d, t.c};
            t.ng = {t.d, EdgeTable::to(faces, h), t.c};
            t.first = boxOf(positions, t.nf);
            t.second = boxOf(positions, t.ng);
            t.quad = merged(t.first, t.second);
            if (!finite(t.quad))
                return false;
            turns.push_back(t);
        }
        if (turns.size() < kTurnsWorthAThread)
            return false;
        // Each face's reach: every box it may come to have this sweep.
        std::vector<std::uint32_t> slot(faces.size(), kNoTurn);
        std::vector<std::uint32_t> loosened;
        std::vector<Box> reachOf;
        for (const Turn& t : turns)
            for (const std::uint32_t face : {t.f, t.g}) {
                if (slot[face] == kNoTurn) {
                    slot[face] = static_cast<std::uint32_t>(reachOf.size());
                    loosened.push_back(face);
                    reachOf.push_back(t.quad);
                } else {
                    reachOf[slot[face]] = merged(reachOf[slot[face]], t.quad);
                }
            }
        std::vector<Box> reach(turns.size());
        for (std::size_t i = 0; i < turns.size(); ++i)
            reach[i] = merged(reachOf[slot[turns[i].f]], reachOf[slot[turns[i].g]]);
        if (!shareTurns(turns, reach))
            return false;
        exact.resize(faces.size());
        for (std::uint32_t face = 0; face < faces.size(); ++face)
            exact[face] = tree.faceBox(face);
        for (std::size_t i = 0; i < loosened.size(); ++i)
            tree.loosen(loosened[i], reachOf[i]);
        std::vector<std::uint8_t> turnedAt(turns.size(), 0);
        tryTurnsOnTwoThreads(positions, faces, tree, exact, touched, turns, turnedAt);
        for (std::size_t i = 0; i < turns.size(); ++i) {
            if (turnedAt[i] == 0)
                continue;
            turned.push_back(turns[i].f);
            turned.push_back(turns[i].g);
            ++count;
        }
        // the tree takes each face's own box back
        for (const std::uint32_t face : loosened)
            tree.refresh(face);
        return true;
    };
    for (int pass = 0; pass < passes; ++pass) {
        // each sweep reads the edges as they were when it began
        table.update(faces, turned);
        // the faces the last sweep turned, which keep their marks for this one
        const std::vector<std::uint8_t> turnedBefore = touched;
        for (const std::uint32_t f : turned)
            worst[f] = smallestAngleCosine(positions, faces[f]);
        turned.clear();
        touched.assign(faces.size(), 0);
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
                if (settled[h] != 0 && turnedBefore[f] == 0 && turnedBefore[g] == 0) {
                    settling[h] = 1;
                    continue;
                }
                onItsOwn[e] = turnsOnItsOwn(surface, faces, table, worst, e) ? 1 : 0;
                settling[h] = onItsOwn[e] == 0 ? 1 : 0;
            }
        });
        std::uint64_t turnedNow = 0;
        if (!sweepOnTwoThreads(edges, turnedNow)) {
            for (std::size_t e = 0; e < edges; ++e)
                if (onItsOwn[e] != 0 && sweepOne(e))
                    ++turnedNow;
        }
        flips += turnedNow;
        if (turnedNow == 0)
            break;
    }
    if (tableAfter)
        table.update(faces, turned);
    return flips;
}
