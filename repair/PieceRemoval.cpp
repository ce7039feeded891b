#include "repair/PieceRemoval.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"

#include <algorithm>
#include <utility>
#include <vector>

std::uint64_t removePinches(Faces& faces, std::size_t pointCount, FaceBoxTree* boxes)
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
        if (boxes != nullptr)
            boxes->keepOnly(keep);
    }
}

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

std::uint64_t removeFacesAt(Faces& faces, const std::vector<std::uint32_t>& points, std::size_t pointCount,
                            FaceBoxTree* boxes)
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
    return removed;
}
