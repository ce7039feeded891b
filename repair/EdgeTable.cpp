#include "repair/EdgeTable.h"

#include "repair/ThreadParts.h"

#include <algorithm>
#include <cassert>

namespace {

constexpr std::uint32_t kGone = 0xffffffffu;  // a face dropped

// Below this many edges a thread costs more to start than it saves.
constexpr std::size_t kEdgesWorthAThread = 30000;

// A half-edge as the build files it under its lower corner: the higher
// corner above the half-edge, so one integer orders both.
struct Slot {
    std::uint64_t key;
    std::uint32_t across;
    std::uint32_t up;
};

// A point has a handful of edges: an insertion sort beats a general one
// there, and a point with thousands still gets the general one.
void sortSlots(Slot* first, Slot* last)
{
    // a face list with no faces gives no slots at all: first may be null
    if (last - first < 2)
        return;
    if (last - first > 32) {
        std::sort(first, last, [](const Slot& a, const Slot& b) { return a.key < b.key; });
        return;
    }
    for (Slot* it = first + 1; it < last; ++it) {
        const Slot moving = *it;
        Slot* to = it;
        for (; to > first && (to - 1)->key > moving.key; --to)
            *to = *(to - 1);
        *to = moving;
    }
}

}  // namespace

EdgeTable::EdgeTable(const Faces& faces, std::size_t pointCount, unsigned threads)
    : faceCount_(faces.size()), threads_(std::max(1u, std::min(threads, 8u)))
{
    assert(faces.size() < 0xffffffffu / 3);
    const auto halfEdgeCount = static_cast<std::uint32_t>(3 * faces.size());
    // each thread counts its faces per point: two keep that memory small
    const unsigned parts = 3 * faces.size() / 2 < kEdgesWorthAThread ? 1 : std::min(threads_, 2u);

    // A counting sort on the lower corner puts each point's few edges side
    // by side in linear time; only those few are then sorted. Each thread
    // counts a run of faces, and files them after the runs before it.
    std::vector<std::vector<std::uint32_t>> counts(parts, std::vector<std::uint32_t>(pointCount + 1, 0));
    forEachPart(parts, [&](unsigned part) {
        std::uint32_t* const count = counts[part].data();
        const std::size_t last = partStart(faces.size(), part + 1, parts);
        for (std::size_t f = partStart(faces.size(), part, parts); f < last; ++f)
            for (int k = 0; k < 3; ++k)
                ++count[std::min(faces[f][k], faces[f][(k + 1) % 3]) + 1];
    });
    // bucket: each point's first slot; counts[part]: where that run's
    // faces begin there
    std::vector<std::uint32_t> bucket(pointCount + 1, 0);
    for (std::size_t p = 0; p < pointCount; ++p) {
        std::uint32_t at = bucket[p];
        for (unsigned part = 0; part < parts; ++part) {
            const std::uint32_t n = counts[part][p + 1];
            counts[part][p] = at;
            at += n;
        }
        bucket[p + 1] = at;
    }

    std::vector<Slot> slots(halfEdgeCount);
    // The faces are read once; everything later asks of them is copied out
    // here. A point's slots are sorted below, on keys no two share, so the
    // order they are filed in does not matter.
    forEachPart(parts, [&](unsigned part) {
        std::uint32_t* const next = counts[part].data();
        const auto last = static_cast<std::uint32_t>(partStart(faces.size(), part + 1, parts));
        for (auto f = static_cast<std::uint32_t>(partStart(faces.size(), part, parts)); f < last; ++f) {
            const Face& face = faces[f];
            for (std::uint32_t k = 0; k < 3; ++k) {
                const std::uint32_t a = face[k], b = face[(k + 1) % 3];
                slots[next[std::min(a, b)]++] = {(std::uint64_t{std::max(a, b)} << 32) | (3 * f + k), face[(k + 2) % 3],
                                                 a < b ? 1u : 0u};
            }
        }
    });
    counts.clear();

    // Each thread sorts a run of points' slots and counts their edges, then
    // numbers them after the runs before it. A point files the edges to
    // higher points, so the first points have the most: the runs split
    // the slots evenly, not the points.
    std::vector<std::size_t> firstPoint(parts + 1, pointCount);
    for (unsigned part = 0; part < parts; ++part)
        firstPoint[part] = static_cast<std::size_t>(
            std::lower_bound(bucket.begin(), bucket.end() - 1, partStart(halfEdgeCount, part, parts)) - bucket.begin());
    firstPoint[0] = 0;
    std::vector<std::uint32_t> edgesIn(parts + 1, 0);
    forEachPart(parts, [&](unsigned part) {
        std::uint32_t edges = 0;
        for (std::size_t p = firstPoint[part]; p < firstPoint[part + 1]; ++p) {
            sortSlots(slots.data() + bucket[p], slots.data() + bucket[p + 1]);
            for (std::uint32_t at = bucket[p]; at < bucket[p + 1]; ++at)
                edges += at == bucket[p] || (slots[at].key >> 32) != (slots[at - 1].key >> 32) ? 1 : 0;
        }
        edgesIn[part + 1] = edges;
    });
    for (unsigned part = 0; part < parts; ++part)
        edgesIn[part + 1] += edgesIn[part];

    byPoint_.resize(pointCount + 1);
    start_.resize(edgesIn[parts] + 1);
    lower_.resize(edgesIn[parts]);
    higher_.resize(edgesIn[parts]);
    halfEdges_.resize(halfEdgeCount);
    runsUp_.resize(halfEdgeCount);
    across_.resize(halfEdgeCount);
    edgeOf_.resize(halfEdgeCount);
    forEachPart(parts, [&](unsigned part) {
        std::uint32_t edge = edgesIn[part];
        for (std::size_t p = firstPoint[part]; p < firstPoint[part + 1]; ++p) {
            byPoint_[p] = edge;
            for (std::uint32_t at = bucket[p]; at < bucket[p + 1]; ++at) {
                const Slot& slot = slots[at];
                const std::uint64_t top = slot.key >> 32;
                if (at == bucket[p] || top != (slots[at - 1].key >> 32)) {
                    start_[edge] = at;
                    lower_[edge] = static_cast<std::uint32_t>(p);
                    higher_[edge] = static_cast<std::uint32_t>(top);
                    ++edge;
                }
                const auto halfEdge = static_cast<std::uint32_t>(slot.key);
                halfEdges_[at] = halfEdge;
                runsUp_[at] = static_cast<std::uint8_t>(slot.up);
                across_[at] = slot.across;
                edgeOf_[halfEdge] = edge - 1;
            }
        }
    });
    byPoint_[pointCount] = edgesIn[parts];
    start_[edgesIn[parts]] = halfEdgeCount;
}

void EdgeTable::keepOnly(const std::vector<bool>& kept)
{
    assert(kept.size() >= faceCount_);
    std::vector<std::uint32_t> renamed(faceCount_);
    std::uint32_t next = 0;
    for (std::size_t f = 0; f < faceCount_; ++f)
        renamed[f] = kept[f] ? next++ : kGone;
    if (next == faceCount_)
        return;
    // Each thread closes up a run of edges within the run itself; the runs
    // then move down onto each other in order, which gives the table one
    // thread closing it up whole would.
    const std::size_t edges = lower_.size();
    const unsigned parts = edges < kEdgesWorthAThread ? 1 : threads_;
    std::vector<std::size_t> firstEdge(parts + 1);
    std::vector<std::uint32_t> first(parts + 1);
    for (unsigned part = 0; part <= parts; ++part) {
        firstEdge[part] = partStart(edges, part, parts);
        first[part] = start_[firstEdge[part]];
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ends(parts);
    forEachPart(parts, [&](unsigned part) {
        ends[part] = keepOnlyIn(firstEdge[part], firstEdge[part + 1], first[part], first[part + 1], renamed.data());
    });
    std::uint32_t edgesOut = ends[0].first, slotsOut = ends[0].second;
    for (unsigned part = 1; part < parts; ++part) {
        const auto [edgesEnd, slotsEnd] = ends[part];
        const std::uint32_t shift = first[part] - slotsOut;
        for (std::size_t e = firstEdge[part]; e < edgesEnd; ++e, ++edgesOut) {
            lower_[edgesOut] = lower_[e];
            higher_[edgesOut] = higher_[e];
            start_[edgesOut] = start_[e] - shift;
        }
        std::copy(halfEdges_.begin() + first[part], halfEdges_.begin() + slotsEnd, halfEdges_.begin() + slotsOut);
        std::copy(runsUp_.begin() + first[part], runsUp_.begin() + slotsEnd, runsUp_.begin() + slotsOut);
        std::copy(across_.begin() + first[part], across_.begin() + slotsEnd, across_.begin() + slotsOut);
        slotsOut += slotsEnd - first[part];
    }
    faceCount_ = next;
    closeUp(edgesOut, slotsOut);
}

std::pair<std::uint32_t, std::uint32_t> EdgeTable::keepOnlyIn(std::size_t from, std::size_t to, std::uint32_t first,
                                                              std::uint32_t last, const std::uint32_t* rename)
{
    // Renaming keeps the faces' order, so every edge keeps its half-edges
    // in face order and the edges theirs; everything closes up in place.
    std::uint32_t* const halfEdges = halfEdges_.data();
    std::uint8_t* const ups = runsUp_.data();
    std::uint32_t* const corners = across_.data();
    auto edgesOut = static_cast<std::uint32_t>(from);
    std::uint32_t slotsOut = first, begin = first;
    for (std::size_t e = from; e < to; ++e) {
        // the run after this one may already have written over its first
        // edge's start: the last edge here ends where the run was told
        const std::uint32_t end = e + 1 == to ? last : start_[e + 1], out = slotsOut;
        for (std::uint32_t i = begin; i < end; ++i) {
            const std::uint32_t h = halfEdges[i], f = h / 3, place = rename[f];
            if (place == kGone)
                continue;
            halfEdges[slotsOut] = 3 * place + (h - 3 * f);
            ups[slotsOut] = ups[i];
            corners[slotsOut] = corners[i];
            ++slotsOut;
        }
        begin = end;
        if (slotsOut == out)
            continue;
        lower_[edgesOut] = lower_[e];
        higher_[edgesOut] = higher_[e];
        start_[edgesOut] = out;
        ++edgesOut;
    }
    return {edgesOut, slotsOut};
}

void EdgeTable::update(const Faces& faces, const std::vector<std::uint32_t>& changed)
{
    assert(faces.size() < 0xffffffffu / 3 && faces.size() >= faceCount_);
    std::vector<std::uint8_t> again(changed.empty() ? 0 : faceCount_, 0);
    // the edges the changed faces lay on, which the table still knows
    std::vector<std::uint32_t> touchedEdges;
    std::vector<Entry> entries;
    const auto file = [&faces, &entries](std::uint32_t f) {
        const Face& face = faces[f];
        for (std::uint32_t k = 0; k < 3; ++k) {
            const std::uint32_t a = face[k], b = face[(k + 1) % 3];
            entries.push_back({std::min(a, b), std::max(a, b), 3 * f + k, face[(k + 2) % 3], a < b});
        }
    };
    for (const std::uint32_t f : changed) {
        assert(f < faceCount_);
        if (again[f] == 0) {
            again[f] = 1;
            file(f);
            for (std::uint32_t k = 0; k < 3; ++k)
                touchedEdges.push_back(edgeOf_[3 * f + k]);
        }
    }
    for (auto f = static_cast<std::uint32_t>(faceCount_); f < faces.size(); ++f)
        file(f);
    faceCount_ = faces.size();
    if (entries.empty())
        return;

    // Threads each merge a run of the table, from one lower corner to
    // another, with the entries and the changed edges in it: the runs are
    // found first, then each sorts its own entries and merges, all into a
    // place of its own, and the runs move down onto each other in order.
    const std::size_t oldEdges = lower_.size();
    const unsigned parts = oldEdges + entries.size() < kEdgesWorthAThread ? 1 : threads_;
    // run p: the keys with lower corners from lowest[p] on, below lowest[p + 1];
    // the old edges from edgeFrom[p] on
    std::vector<std::uint32_t> lowest(parts + 1, 0);
    std::vector<std::size_t> edgeFrom(parts + 1, 0);
    for (unsigned part = 1; part < parts; ++part) {
        lowest[part] = oldEdges == 0 ? 0 : lower_[partStart(oldEdges, part, parts)];
        edgeFrom[part] = byPoint_[lowest[part]];
    }
    lowest[parts] = 0xffffffffu;
    edgeFrom[parts] = oldEdges;
    const auto runOfPoint = [&lowest, parts](std::uint32_t point) {
        unsigned part = 0;
        while (part + 1 < parts && point >= lowest[part + 1])
            ++part;
        return part;
    };
    const auto runOfEdge = [&edgeFrom, parts](std::uint32_t edge) {
        unsigned part = 0;
        while (part + 1 < parts && edge >= edgeFrom[part + 1])
            ++part;
        return part;
    };
    // the entries and changed edges of each run, side by side, runs in order
    std::vector<std::size_t> entryFrom(parts + 1, 0), touchedFrom(parts + 1, 0);
    std::vector<Entry> byRun(entries.size());
    std::vector<std::uint32_t> touchedByRun(touchedEdges.size());
    if (parts == 1) {
        byRun.swap(entries);
        touchedByRun.swap(touchedEdges);
        entryFrom[1] = byRun.size();
        touchedFrom[1] = touchedByRun.size();
    } else {
        for (const Entry& entry : entries)
            ++entryFrom[runOfPoint(entry.lower) + 1];
        for (const std::uint32_t edge : touchedEdges)
            ++touchedFrom[runOfEdge(edge) + 1];
        for (unsigned part = 0; part < parts; ++part) {
            entryFrom[part + 1] += entryFrom[part];
            touchedFrom[part + 1] += touchedFrom[part];
        }
        std::vector<std::size_t> nextEntry(entryFrom.begin(), entryFrom.end() - 1);
        std::vector<std::size_t> nextTouched(touchedFrom.begin(), touchedFrom.end() - 1);
        for (const Entry& entry : entries)
            byRun[nextEntry[runOfPoint(entry.lower)]++] = entry;
        for (const std::uint32_t edge : touchedEdges)
            touchedByRun[nextTouched[runOfEdge(edge)]++] = edge;
    }

    std::vector<std::uint32_t> newLower(oldEdges + byRun.size()), newHigher(oldEdges + byRun.size()),
        newStart(oldEdges + byRun.size() + 1), newHalfEdges(halfEdges_.size() + byRun.size()),
        newAcross(halfEdges_.size() + byRun.size());
    std::vector<std::uint8_t> newRunsUp(halfEdges_.size() + byRun.size());
    // where each run's edges and slots begin and end in the new arrays
    std::vector<std::uint32_t> edgesBegin(parts), slotsBegin(parts), edgesEnd(parts), slotsEnd(parts);
    forEachPart(parts, [&](unsigned part) {
        // Keys are unique (one half-edge each), so the runs sort alike
        // whatever order the entries came in.
        std::sort(touchedByRun.begin() + static_cast<std::ptrdiff_t>(touchedFrom[part]),
                  touchedByRun.begin() + static_cast<std::ptrdiff_t>(touchedFrom[part + 1]));
        std::sort(byRun.begin() + static_cast<std::ptrdiff_t>(entryFrom[part]),
                  byRun.begin() + static_cast<std::ptrdiff_t>(entryFrom[part + 1]), [](const Entry& x, const Entry& y) {
                      return x.lower < y.lower ||
                             (x.lower == y.lower &&
                              (x.higher < y.higher || (x.higher == y.higher && x.halfEdge < y.halfEdge)));
                  });
        // One merge of the run, less the changed faces' old half-edges,
        // with the new entries, both in the table's order. Stretches that
        // no entry falls in and no changed face lies on are copied whole.
        // A run writes no further than its old edges and entries reach.
        const std::size_t oldEnd = edgeFrom[part + 1], entriesEnd = entryFrom[part + 1];
        auto edgesOut = static_cast<std::uint32_t>(edgeFrom[part] + entryFrom[part]);
        auto slotsOut = static_cast<std::uint32_t>(start_[edgeFrom[part]] + entryFrom[part]);
        edgesBegin[part] = edgesOut;
        slotsBegin[part] = slotsOut;
        const auto copyEdges = [&](std::size_t from, std::size_t to) {
            if (from == to)
                return;
            const std::uint32_t first = start_[from], last = start_[to];
            std::copy(lower_.begin() + from, lower_.begin() + to, newLower.begin() + edgesOut);
            std::copy(higher_.begin() + from, higher_.begin() + to, newHigher.begin() + edgesOut);
            for (std::size_t e = from; e < to; ++e)
                newStart[edgesOut++] = start_[e] - first + slotsOut;
            std::copy(halfEdges_.begin() + first, halfEdges_.begin() + last, newHalfEdges.begin() + slotsOut);
            std::copy(runsUp_.begin() + first, runsUp_.begin() + last, newRunsUp.begin() + slotsOut);
            std::copy(across_.begin() + first, across_.begin() + last, newAcross.begin() + slotsOut);
            slotsOut += last - first;
        };
        // whether an old edge has a half-edge of a changed face, asked of
        // every edge in order
        auto nextTouched = touchedByRun.begin() + static_cast<std::ptrdiff_t>(touchedFrom[part]);
        const auto touchedEnd = touchedByRun.begin() + static_cast<std::ptrdiff_t>(touchedFrom[part + 1]);
        const auto touched = [&](std::size_t e) {
            while (nextTouched != touchedEnd && *nextTouched < e)
                ++nextTouched;
            return nextTouched != touchedEnd && *nextTouched == e;
        };
        const auto before = [](std::uint32_t lo, std::uint32_t hi, const Entry& entry) {
            return lo < entry.lower || (lo == entry.lower && hi < entry.higher);
        };
        std::size_t e = edgeFrom[part], j = entryFrom[part], run = e;  // old edges from run on are still to copy
        while (e < oldEnd || j < entriesEnd) {
            if (e < oldEnd && (j == entriesEnd || before(lower_[e], higher_[e], byRun[j])) && !touched(e)) {
                ++e;
                continue;
            }
            copyEdges(run, e);
            std::uint32_t lo = 0, hi = 0;
            const bool old = e < oldEnd && (j == entriesEnd || !before(byRun[j].lower, byRun[j].higher,
                                                                       Entry{lower_[e], higher_[e], 0, 0, false}));
            if (old) {
                lo = lower_[e];
                hi = higher_[e];
            } else {
                lo = byRun[j].lower;
                hi = byRun[j].higher;
            }
            const std::uint32_t first = slotsOut;
            std::uint32_t i = old ? start_[e] : 0;
            const std::uint32_t end = old ? start_[e + 1] : 0;
            for (;;) {
                while (i < end && !again.empty() && again[halfEdges_[i] / 3] != 0)
                    ++i;
                const bool fromEntries = j < entriesEnd && byRun[j].lower == lo && byRun[j].higher == hi;
                if (i < end && (!fromEntries || halfEdges_[i] < byRun[j].halfEdge)) {
                    newHalfEdges[slotsOut] = halfEdges_[i];
                    newRunsUp[slotsOut] = runsUp_[i];
                    newAcross[slotsOut] = across_[i];
                    ++slotsOut;
                    ++i;
                } else if (fromEntries) {
                    newHalfEdges[slotsOut] = byRun[j].halfEdge;
                    newRunsUp[slotsOut] = byRun[j].up ? 1 : 0;
                    newAcross[slotsOut] = byRun[j].across;
                    ++slotsOut;
                    ++j;
                } else {
                    break;
                }
            }
            if (old)
                ++e;
            run = e;
            if (slotsOut == first)
                continue;
            newLower[edgesOut] = lo;
            newHigher[edgesOut] = hi;
            newStart[edgesOut] = first;
            ++edgesOut;
        }
        copyEdges(run, e);
        edgesEnd[part] = edgesOut;
        slotsEnd[part] = slotsOut;
    });
    std::uint32_t edgesOut = edgesEnd[0], slotsOut = slotsEnd[0];
    for (unsigned part = 1; part < parts; ++part) {
        const std::uint32_t shift = slotsBegin[part] - slotsOut;
        for (std::uint32_t e = edgesBegin[part]; e < edgesEnd[part]; ++e, ++edgesOut) {
            newLower[edgesOut] = newLower[e];
            newHigher[edgesOut] = newHigher[e];
            newStart[edgesOut] = newStart[e] - shift;
        }
        std::copy(newHalfEdges.begin() + slotsBegin[part], newHalfEdges.begin() + slotsEnd[part],
                  newHalfEdges.begin() + slotsOut);
        std::copy(newRunsUp.begin() + slotsBegin[part], newRunsUp.begin() + slotsEnd[part],
                  newRunsUp.begin() + slotsOut);
        std::copy(newAcross.begin() + slotsBegin[part], newAcross.begin() + slotsEnd[part],
                  newAcross.begin() + slotsOut);
        slotsOut += slotsEnd[part] - slotsBegin[part];
    }
    lower_.swap(newLower);
    higher_.swap(newHigher);
    start_.swap(newStart);
    halfEdges_.swap(newHalfEdges);
    runsUp_.swap(newRunsUp);
    across_.swap(newAcross);
    closeUp(edgesOut, slotsOut);
}

void EdgeTable::closeUp(std::uint32_t edges, std::uint32_t slots)
{
    lower_.resize(edges);
    higher_.resize(edges);
    start_.resize(edges + 1);
    start_[edges] = slots;
    halfEdges_.resize(slots);
    runsUp_.resize(slots);
    across_.resize(slots);
    indexEdges();
}

void EdgeTable::indexEdges()
{
    const std::size_t pointCount = byPoint_.size() - 1;
    std::size_t e = 0;
    for (std::size_t p = 0; p < pointCount; ++p) {
        byPoint_[p] = static_cast<std::uint32_t>(e);
        while (e < lower_.size() && lower_[e] == p)
            ++e;
    }
    byPoint_[pointCount] = static_cast<std::uint32_t>(e);
    edgeOf_.resize(3 * faceCount_);
    // every half-edge lies on one edge: threads taking runs of edges write
    // apart
    const std::size_t edges = lower_.size();
    const unsigned parts = edges < kEdgesWorthAThread ? 1 : threads_;
    forEachPart(parts, [&](unsigned part) {
        const std::size_t last = partStart(edges, part + 1, parts);
        for (std::size_t edge = partStart(edges, part, parts); edge < last; ++edge)
            for (std::uint32_t i = start_[edge]; i < start_[edge + 1]; ++i)
                edgeOf_[halfEdges_[i]] = static_cast<std::uint32_t>(edge);
    });
}

std::size_t EdgeTable::find(std::uint32_t a, std::uint32_t b) const
{
    const std::uint32_t lo = std::min(a, b), hi = std::max(a, b);
    if (hi + 1 >= byPoint_.size())
        return edgeCount();
    const auto first = higher_.begin() + byPoint_[lo], last = higher_.begin() + byPoint_[lo + 1];
    const auto it = std::lower_bound(first, last, hi);
    if (it == last || *it != hi)
        return edgeCount();
    return static_cast<std::size_t>(it - higher_.begin());
}

std::vector<bool> EdgeTable::repeatedFaces(std::size_t faceCount) const
{
    std::vector<bool> repeated(faceCount, false);
    for (std::size_t e = 0; e < edgeCount(); ++e) {
        const std::uint32_t n = uses(e);
        for (std::uint32_t j = 1; j < n; ++j)
            for (std::uint32_t i = 0; i < j; ++i)
                if (across(e, i) == across(e, j) && faceOf(use(e, i)) != faceOf(use(e, j)))
                    repeated[faceOf(use(e, j))] = true;
    }
    return repeated;
}
