#include "repair/ManifoldGrowth.h"

#include "repair/EdgeTable.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"
#include "repair/ThreadParts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

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

class ManifoldGrowth {
public:
    ManifoldGrowth(const Surface& surface, Faces& faces, const EdgeTable& table, unsigned threads)
        : surface_(surface), faces_(faces), table_(table), threads_(threads)
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
        queued_.assign(faces.size(), 0);
        framed_.assign(pointCount, 0);
        t1_.resize(pointCount);
        t2_.resize(pointCount);
        fit_.resize(faces.size());
        angles_.resize(faces.size());
        area_.resize(faces.size());
        // Every face's fit, angles and area, worked out once ahead and apart,
        // each thread a run of points and then of faces: the growth reads
        // them in its own order.
        const auto share = [threads](std::size_t count, unsigned part) { return partStart(count, part, threads); };
        forEachPart(threads, [&](unsigned part) {
            for (std::size_t p = share(pointCount, part); p < share(pointCount, part + 1); ++p)
                framed_[p] = tangentFrame(surface.normals[p], t1_[p], t2_[p]) ? 1 : 0;
        });
        // Each edge's direction from either end is read by both its faces:
        // worked out once per edge, it is the same number for both.
        edgeAngles_.resize(2 * table.edgeCount());
        forEachPart(threads, [&](unsigned part) {
            for (std::size_t e = share(table.edgeCount(), part); e < share(table.edgeCount(), part + 1); ++e) {
                const std::uint32_t lower = table.lower(e), higher = table.higher(e);
                if (table.uses(e) == 0)
                    continue;
                if (framed_[lower])
                    edgeAngles_[2 * e] = directionAngle(lower, higher);
                if (framed_[higher])
                    edgeAngles_[2 * e + 1] = directionAngle(higher, lower);
            }
        });
        forEachPart(threads, [&](unsigned part) {
            for (std::size_t f = share(faces.size(), part); f < share(faces.size(), part + 1); ++f) {
                fit_[f] = faceAgreement(surface, faces[f]);
                angles_[f] = cornerAngles(static_cast<std::uint32_t>(f));
                area_[f] = 0.5 * length(faceCross(surface.positions, faces[f]));
            }
        });
    }

    // Grows the parts and turns the faces that must turn; the faces to keep
    // go in keep and the turned ones in turned, the list left as it was.
    void run(std::vector<bool>& keep, std::vector<std::uint32_t>& turned);

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
    // At each corner of the face as listed, the directions to the next
    // corner and to the one after, as angles in the corner's tangent frame.
    std::array<double, 6> cornerAngles(std::uint32_t f) const;
    // The direction from v to w as an angle in v's tangent frame.
    double directionAngle(std::uint32_t v, std::uint32_t w) const
    {
        const CGVector a = surface_.positions[w] - surface_.positions[v];
        return std::atan2(dot(a, t2_[v]), dot(a, t1_[v]));
    }
    void take(std::uint32_t f, const Face& corners, const Sector sector[3], bool turned);
    void offerNeighbours(std::uint32_t f);

    const Surface& surface_;
    Faces& faces_;
    const EdgeTable& table_;
    const unsigned threads_;
    std::vector<std::uint32_t> firstSector_;
    std::vector<std::uint32_t> taken_;
    std::vector<Sector> sectors_;
    std::vector<std::uint8_t> edgeUses_;
    std::vector<std::uint8_t> state_;
    std::vector<std::uint8_t> queued_;  // whether the face is in the heap
    std::vector<std::uint8_t> framed_;  // bytes, not bits: threads fill it side by side
    std::vector<CGVector> t1_, t2_;
    std::vector<double> fit_;
    std::vector<std::array<double, 6>> angles_;
    std::vector<double> edgeAngles_;  // by edge: directionAngle from its lower end, then from its higher one
    std::vector<double> area_;
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
        std::uint32_t other = kNoFace;
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

    const std::array<double, 6>& angles = angles_[f];
    for (std::uint32_t k = 0; k < 3; ++k) {
        const std::uint32_t v = corners[k];
        if (!framed_[v]) {
            sector[k] = Sector{};
            continue;
        }
        // the corner's place in the face as listed; turned, its next
        // corner there is its previous one here
        const std::uint32_t j = turn == -1 ? (3 - k) % 3 : k;
        const double angleA = angles[2 * j + (turn == -1 ? 1 : 0)];
        const double angleB = angles[2 * j + (turn == -1 ? 0 : 1)];
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

std::array<double, 6> ManifoldGrowth::cornerAngles(std::uint32_t f) const
{
    const Face& face = faces_[f];
    // a face with a corner twice has a side that is no edge of two points
    const bool fair = face[0] != face[1] && face[1] != face[2] && face[2] != face[0];
    // the side's angle from its end v: half-edge h runs along it
    const auto fromEnd = [this, fair](std::uint32_t v, std::uint32_t w, std::uint32_t h) {
        if (!fair)
            return directionAngle(v, w);
        const std::uint32_t e = table_.edgeOf(h);
        return edgeAngles_[2 * e + (v == table_.lower(e) ? 0 : 1)];
    };
    std::array<double, 6> angles{};
    for (std::size_t j = 0; j < 3; ++j) {
        const std::uint32_t v = face[j];
        if (!framed_[v])
            continue;
        // the sides to the next corner and from the one after
        const auto side = static_cast<std::uint32_t>(j);
        angles[2 * j] = fromEnd(v, face[(j + 1) % 3], 3 * f + side);
        angles[2 * j + 1] = fromEnd(v, face[(j + 2) % 3], 3 * f + (side + 2) % 3);
    }
    return angles;
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
            // A face offered again before it comes up would come up twice
            // running, the second time to the same answer: once is enough,
            // where fits order (no NaN) keeps the copies together.
            if (state_[o] == kOut && (queued_[o] == 0 || std::isnan(fit_[o]))) {
                queued_[o] = 1;
                heap_.push_back({fit_[o], o});
                std::push_heap(heap_.begin(), heap_.end());
            }
        }
    }
}

void ManifoldGrowth::run(std::vector<bool>& keep, std::vector<std::uint32_t>& turned)
{
    std::vector<std::uint32_t> order(faces_.size());
    for (std::uint32_t f = 0; f < faces_.size(); ++f)
        order[f] = f;
    const auto byFit = [this](std::uint32_t a, std::uint32_t b) { return fit_[a] > fit_[b]; };
    // Two halves sorted side by side and merged give the one stable order
    // wherever the fits order at all, as they do with no NaN among them.
    if (threads_ < 2 || std::any_of(fit_.begin(), fit_.end(), [](double fit) { return std::isnan(fit); })) {
        std::stable_sort(order.begin(), order.end(), byFit);
    } else {
        const auto middle = order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2);
        forEachPart(2, [&](unsigned part) {
            if (part == 0)
                std::stable_sort(order.begin(), middle, byFit);
            else
                std::stable_sort(middle, order.end(), byFit);
        });
        std::inplace_merge(order.begin(), middle, order.end(), byFit);
    }

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
            queued_[f] = 0;
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
            const double area = area_[f];
            if (d > 0.0)
                (state_[f] == kInTurned ? disagreeing : agreeing) += area;
            else if (d < 0.0)
                (state_[f] == kInTurned ? agreeing : disagreeing) += area;
        }
        const bool turnAll = anyTurned && disagreeing > agreeing;
        for (std::uint32_t f : members) {
            if ((state_[f] == kInTurned) != turnAll) {
                std::swap(faces_[f][1], faces_[f][2]);
                turned.push_back(f);
            }
        }
    }

    keep.resize(faces_.size());
    for (std::size_t f = 0; f < faces_.size(); ++f)
        keep[f] = state_[f] != kOut;
}

}  // namespace

std::uint64_t growManifold(const Surface& surface, Faces& faces, EdgeTable& table, std::uint64_t& flipped,
                           unsigned threads)
{
    std::vector<bool> keep;
    std::vector<std::uint32_t> turned;
    // below this many faces a thread costs more to start than it saves
    constexpr std::size_t kFacesWorthAThread = 20000;
    const unsigned parts = faces.size() < kFacesWorthAThread ? 1 : std::max(1u, std::min(threads, 8u));
    ManifoldGrowth(surface, faces, table, parts).run(keep, turned);
    flipped += turned.size();
    // every turned face is kept: rename them as the list closes up
    std::vector<std::uint32_t> place(faces.size());
    std::uint32_t next = 0;
    for (std::size_t f = 0; f < faces.size(); ++f)
        place[f] = keep[f] ? next++ : kNoFace;
    for (std::uint32_t& f : turned)
        f = place[f];
    const std::uint64_t removed = keepMarked(faces, keep);
    table.keepOnly(keep);
    table.update(faces, turned);
    return removed;
}
