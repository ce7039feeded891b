#include "repair/PieceRemoval.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"

#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>

std::uint64_t removePinches(Faces& faces, std::size_t pointCount, EdgeTable& table, FaceBoxTree* boxes)
{
    assert(table.faceCount() == faces.size());
    // Each round reads the faces the rounds before kept; the list, the
    // table and the tree close up once, at the end.
    std::vector<bool> keep(faces.size(), true);
    bool anyRound = false;
    for (;;) {
        std::vector<std::uint32_t> first(pointCount + 1, 0);
        for (std::size_t f = 0; f < faces.size(); ++f)
            if (keep[f])
                for (std::uint32_t corner : faces[f])
                    ++first[corner + 1];
        for (std::size_t p = 0; p < pointCount; ++p)
            first[p + 1] += first[p];
        std::vector<std::uint32_t> around(first[pointCount]);  // half-edges leaving each point
        std::vector<std::uint32_t> placeOf(3 * faces.size());  // where each half-edge is in around
        {
            std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
            for (std::uint32_t h = 0; h < placeOf.size(); ++h) {
                if (!keep[h / 3])
                    continue;
                placeOf[h] = next[EdgeTable::from(faces, h)]++;
                around[placeOf[h]] = h;
            }
        }

        // fan[i]: the first of the faces around the same point that the
        // face at place i of around is joined to through edges at that
        // point. Every face on an edge has a corner at both its ends, so
        // one walk over the edges joins the faces around every point.
        std::vector<std::uint32_t> fan(around.size());
        for (std::uint32_t i = 0; i < fan.size(); ++i)
            fan[i] = i;
        auto rootOf = [&fan](std::uint32_t i) {
            while (fan[i] != i)
                i = fan[i] = fan[fan[i]];
            return i;
        };
        // the place of the face's half-edge that leaves the point, given one
        // of the face's half-edges at that point
        const auto placeAt = [&faces, &placeOf](std::uint32_t point, std::uint32_t h) {
            return placeOf[EdgeTable::from(faces, h) == point ? h : 3 * (h / 3) + (h % 3 + 1) % 3];
        };
        const auto join = [&fan, &rootOf](std::uint32_t x, std::uint32_t y) {
            const std::uint32_t a = rootOf(x), b = rootOf(y);
            fan[std::max(a, b)] = std::min(a, b);
        };
        for (std::size_t e = 0; e < table.edgeCount(); ++e) {
            const std::uint32_t lower = table.lower(e), higher = table.higher(e), uses = table.uses(e);
            std::uint32_t i = 0;
            while (i < uses && !keep[table.use(e, i) / 3])
                ++i;
            const std::uint32_t h = i < uses ? table.use(e, i) : 0;
            for (++i; i < uses; ++i) {
                const std::uint32_t other = table.use(e, i);
                if (!keep[other / 3])
                    continue;
                join(placeAt(lower, h), placeAt(lower, other));
                join(placeAt(higher, h), placeAt(higher, other));
            }
        }

        // the faces in each fan, counted at its first place
        std::vector<std::uint32_t> sizes(around.size(), 0);
        for (std::uint32_t i = 0; i < around.size(); ++i)
            ++sizes[rootOf(i)];
        bool any = false;
        for (std::size_t v = 0; v < pointCount; ++v) {
            const std::uint32_t begin = first[v], end = first[v + 1];
            if (end - begin < 2)
                continue;
            std::uint32_t best = begin;
            for (std::uint32_t i = begin + 1; i < end; ++i)
                if (sizes[i] > sizes[best])
                    best = i;
            for (std::uint32_t i = begin; i < end; ++i) {
                if (fan[i] != best && rootOf(i) != best && keep[around[i] / 3]) {
                    keep[around[i] / 3] = false;
                    any = true;
                }
            }
        }
        if (!any)
            break;
        anyRound = true;
    }
    if (!anyRound)
        return 0;
    const std::uint64_t removed = keepMarked(faces, keep);
    table.keepOnly(keep);
    if (boxes != nullptr)
        boxes->keepOnly(keep);
    return removed;
}

std::uint64_t removeShreds(Faces& faces, EdgeTable& table)
{
    assert(table.faceCount() == faces.size());
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
    if (!any)
        return 0;
    table.keepOnly(keep);
    return keepMarked(faces, keep);
}

std::uint64_t removeFacesAt(Faces& faces, const std::vector<std::uint32_t>& points, std::size_t pointCount,
                            FaceBoxTree* boxes, EdgeTable* table)
{
    std::vector<bool> marked(pointCount, false);
    for (std::uint32_t p : points)
        marked[p] = true;
    std::vector<bool> keep(faces.size());
    for (std::size_t f = 0; f < faces.size(); ++f)
        keep[f] = !marked[faces[f][0]] && !marked[faces[f][1]] && !marked[faces[f][2]];
    const std::uint64_t removed = keepMarked(faces, keep);
    if (boxes != nullptr)
        boxes->keepOnly(keep);
    if (table != nullptr)
        table->keepOnly(keep);
    return removed;
}
