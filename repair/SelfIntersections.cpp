#include "repair/SelfIntersections.h"

#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>

std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces)
{
    return intersectingPairs(positions, faces, FaceBoxTree(positions, faces));
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> intersectingPairs(const std::vector<CGVertex>& positions,
                                                                       const Faces& faces, const FaceBoxTree& tree)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    tree.forEachMeetingPair([&positions, &faces, &pairs](std::uint32_t f, std::uint32_t g) {
        if (facesIntersect(positions, faces[f], faces[g]))
            pairs.push_back({f, g});
    });
    // the removal walks the pairs in face order, whatever order the walk found them in
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::uint64_t removeIntersections(const Surface& surface, Faces& faces, FaceBoxTree& boxes, EdgeTable* table)
{
    const auto pairs = intersectingPairs(surface.positions, faces, boxes);
    if (pairs.empty())
        return 0;
    std::vector<std::uint32_t> meets(faces.size(), 0);
    for (const auto& [f, g] : pairs) {
        ++meets[f];
        ++meets[g];
    }
    const auto fit = [&surface, &faces](std::uint32_t f) { return faceAgreement(surface, faces[f]); };
    std::vector<bool> keep(faces.size(), true);
    for (const auto& [f, g] : pairs) {
        if (!keep[f] || !keep[g])
            continue;
        const bool dropF = meets[f] > meets[g] || (meets[f] == meets[g] && fit(f) <= fit(g));
        keep[dropF ? f : g] = false;
    }
    const std::uint64_t removed = keepMarked(faces, keep);
    boxes.keepOnly(keep);
    if (table != nullptr)
        table->keepOnly(keep);
    return removed;
}
