#include "repair/PieceRemoval.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"

#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>

namespace {

// Places 0 to count - 1 in sets joined pairwise. The lower of two roots
// stays a root, so each set is named by its lowest place whatever the
// order of the joins.
class LowestRoots {
public:
    explicit LowestRoots(std::uint32_t count = 0) { reset(count); }
    void reset(std::uint32_t count)
    {
        parent_.resize(count);
        for (std::uint32_t i = 0; i < count; ++i)
            parent_[i] = i;
    }
    std::uint32_t rootOf(std::uint32_t i)
    {
        while (parent_[i] != i)
            i = parent_[i] = parent_[parent_[i]];
        return i;
    }
    void join(std::uint32_t x, std::uint32_t y)
    {
        const std::uint32_t a = rootOf(x), b = rootOf(y);
        parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::uint32_t> parent_;
};

// Where, around each point, the faces split into fans that share no edge
// at the point: the faces around each point, in face order, as half-edges
// leaving it.
struct FacesAround {
    std::vector<std::uint32_t> first;    // each point's first place, and the end
    std::vector<std::uint32_t> around;   // half-edges leaving each point
    std::vector<std::uint32_t> placeOf;  // where each half-edge is in around

    FacesAround(const Faces& faces, std::size_t pointCount) : first(pointCount + 1, 0)
    {
        for (const Face& face : faces)
            for (std::uint32_t corner : face)
                ++first[corner + 1];
        for (std::size_t p = 0; p < pointCount; ++p)
            first[p + 1] += first[p];
        around.resize(3 * faces.size());
        placeOf.resize(3 * faces.size());
        std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
        for (std::uint32_t h = 0; h < around.size(); ++h) {
            placeOf[h] = next[EdgeTable::from(faces, h)]++;
            around[placeOf[h]] = h;
        }
    }
};

// The half-edge of h's face that comes into the point h leaves.
std::uint32_t comingIn(std::uint32_t h)
{
    return 3 * (h / 3) + (h % 3 + 2) % 3;
}

}  // namespace

std::uint64_t removePinches(Faces& faces, std::size_t pointCount, EdgeTable& table, FaceBoxTree* boxes,
                            const std::vector<std::uint32_t>* seeds)
{
    assert(table.faceCount() == faces.size());
    const FacesAround at(faces, pointCount);
    const std::vector<std::uint32_t>& around = at.around;
    // Each round reads the faces the rounds before kept; the list, the
    // table and the tree close up once, at the end.
    std::vector<bool> keep(faces.size(), true);
    std::vector<std::uint32_t> dropped;  // faces the round drops, in the order it drops them

    // The first round looks at every point, unless the caller named the
    // few where a pinch can be. fan.rootOf(i): the first of the faces
    // around the same point that the face at place i is joined to through
    // edges at that point. Every face on an edge has a corner at both its
    // ends, so one walk over the edges joins the faces around every point.
    if (seeds == nullptr) {
        LowestRoots fan(static_cast<std::uint32_t>(around.size()));
        // the place of the face's half-edge that leaves the point, given one
        // of the face's half-edges at that point
        const auto placeAt = [&faces, &at](std::uint32_t point, std::uint32_t h) {
            return at.placeOf[EdgeTable::from(faces, h) == point ? h : 3 * (h / 3) + (h % 3 + 1) % 3];
        };
        for (std::size_t e = 0; e < table.edgeCount(); ++e) {
            const std::uint32_t lower = table.lower(e), higher = table.higher(e), h = table.use(e, 0);
            for (std::uint32_t i = 1; i < table.uses(e); ++i) {
                fan.join(placeAt(lower, h), placeAt(lower, table.use(e, i)));
                fan.join(placeAt(higher, h), placeAt(higher, table.use(e, i)));
            }
        }
        // the faces in each fan, counted at its first place
        std::vector<std::uint32_t> sizes(around.size(), 0);
        for (std::uint32_t i = 0; i < around.size(); ++i)
            ++sizes[fan.rootOf(i)];
        for (std::size_t v = 0; v < pointCount; ++v) {
            const std::uint32_t begin = at.first[v], end = at.first[v + 1];
            if (end - begin < 2)
                continue;
            std::uint32_t best = begin;
            for (std::uint32_t i = begin + 1; i < end; ++i)
                if (sizes[i] > sizes[best])
                    best = i;
            for (std::uint32_t i = begin; i < end; ++i) {
                if (fan.rootOf(i) != best && keep[around[i] / 3]) {
                    keep[around[i] / 3] = false;
                    dropped.push_back(around[i] / 3);
                }
            }
        }
    }

    // A later round can find a new pinch only at a corner of a face the
    // round before dropped: everywhere else the faces around a point are
    // those it had, all in one fan. Those few points are looked at alone.
    std::uint64_t removed = dropped.size();
    std::vector<std::uint32_t> points, faceAt, sizes;
    LowestRoots fan;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> atEdge;  // edge at v, face around v
    // named points stand for the first round's drops
    bool named = seeds != nullptr;
    while (named || !dropped.empty()) {
        points.clear();
        if (named)
            points = *seeds;
        named = false;
        for (const std::uint32_t f : dropped)
            points.insert(points.end(), faces[f].begin(), faces[f].end());
        std::sort(points.begin(), points.end());
        points.erase(std::unique(points.begin(), points.end()), points.end());
        const std::vector<bool> alive = keep;  // the faces as the round begins
        dropped.clear();
        for (const std::uint32_t v : points) {
            faceAt.clear();
            for (std::uint32_t i = at.first[v]; i < at.first[v + 1]; ++i)
                if (alive[around[i] / 3])
                    faceAt.push_back(around[i]);
            const auto count = static_cast<std::uint32_t>(faceAt.size());
            if (count < 2)
                continue;
            fan.reset(count);
            atEdge.clear();
            for (std::uint32_t i = 0; i < count; ++i) {
                atEdge.push_back({table.edgeOf(faceAt[i]), i});
                atEdge.push_back({table.edgeOf(comingIn(faceAt[i])), i});
            }
            std::sort(atEdge.begin(), atEdge.end());
            for (std::size_t i = 1; i < atEdge.size(); ++i) {
                if (atEdge[i].first == atEdge[i - 1].first)
                    fan.join(atEdge[i - 1].second, atEdge[i].second);
            }
            sizes.assign(count, 0);
            for (std::uint32_t i = 0; i < count; ++i)
                ++sizes[fan.rootOf(i)];
            std::uint32_t best = 0;
            for (std::uint32_t i = 1; i < count; ++i)
                if (sizes[i] > sizes[best])
                    best = i;
            for (std::uint32_t i = 0; i < count; ++i) {
                if (fan.rootOf(i) != best && keep[faceAt[i] / 3]) {
                    keep[faceAt[i] / 3] = false;
                    dropped.push_back(faceAt[i] / 3);
                }
            }
        }
        removed += dropped.size();
    }
    if (removed == 0)
        return 0;
    keepMarked(faces, keep);
    table.keepOnly(keep);
    if (boxes != nullptr)
        boxes->keepOnly(keep);
    return removed;
}

std::uint64_t removeShreds(Faces& faces, EdgeTable& table)
{
    assert(table.faceCount() == faces.size());
    LowestRoots part(static_cast<std::uint32_t>(faces.size()));
    for (std::size_t e = 0; e < table.edgeCount(); ++e) {
        for (std::uint32_t i = 1; i < table.uses(e); ++i)
            part.join(table.use(e, 0) / 3, table.use(e, i) / 3);
    }
    std::vector<std::size_t> size(faces.size(), 0);
    std::size_t largest = 0;
    for (std::uint32_t f = 0; f < faces.size(); ++f)
        largest = std::max(largest, ++size[part.rootOf(f)]);
    std::vector<bool> keep(faces.size());
    bool any = false;
    for (std::uint32_t f = 0; f < faces.size(); ++f) {
        keep[f] = 100 * size[part.rootOf(f)] >= largest;
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
