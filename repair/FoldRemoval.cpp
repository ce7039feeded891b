#include "repair/FoldRemoval.h"

#include "repair/EdgeTable.h"
#include "repair/FaceEdits.h"
#include "repair/SurfaceMath.h"

#include <vector>

namespace {

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

}  // namespace

std::uint64_t removeDuplicates(Faces& faces, EdgeTable& table)
{
    std::vector<bool> keep = table.repeatedFaces(faces.size());
    bool any = false;
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        keep[f] = !keep[f] && face[0] != face[1] && face[1] != face[2] && face[2] != face[0];
        any = any || !keep[f];
    }
    if (!any)
        return 0;
    table.keepOnly(keep);
    return keepMarked(faces, keep);
}

bool windsOneWay(const EdgeTable& table)
{
    for (std::size_t e = 0; e < table.edgeCount(); ++e) {
        if (table.uses(e) > 2)
            return false;
        if (table.uses(e) == 2 && table.runsUp(e, 0) == table.runsUp(e, 1))
            return false;
    }
    return true;
}

// Drops the worse face of each fold (two faces that run an edge the same
// way and lie on the same side of it) and every face beyond the best one
// per direction on an edge of more than two.
std::uint64_t removeFoldOvers(const Surface& surface, Faces& faces, EdgeTable& table)
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
            keep[faceAgreement(surface, faces[f]) < faceAgreement(surface, faces[o]) ? f : o] = false;
            any = true;
        } else if (alive.size() > 2) {
            std::uint32_t best[2] = {kNoFace, kNoFace};  // per direction: lower corner first, or not
            double bestAgreement[2] = {0.0, 0.0};
            for (std::uint32_t h : alive) {
                const int way = EdgeTable::from(faces, h) == table.lower(e) ? 0 : 1;
                const double a = faceAgreement(surface, faces[EdgeTable::faceOf(h)]);
                if (best[way] == kNoFace || a > bestAgreement[way]) {
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
    if (!any)
        return 0;
    table.keepOnly(keep);
    return keepMarked(faces, keep);
}
