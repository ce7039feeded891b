#include "repair/PointInsertion.h"

#include "repair/FaceBoxTree.h"
#include "repair/SurfaceMath.h"
#include "repair/TriangleIntersection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// The corner normals' summed cosines with a new face, as the refill asks.
constexpr double kLeastAgreement = 1.5;

// The smallest angle a new face may have, as a cosine: about 3 degrees,
// since the sliver flips that follow mend what lies above it.
const double kThinnest = std::cos(3.0 * 3.14159265358979323846 / 180.0);

// A point further off a face's plane than this share of its longest side
// is not lying over it.
constexpr double kFurthest = 0.5;

}  // namespace

std::uint64_t insertLeftOutPoints(const Surface& surface, Faces& faces, FaceBoxTree& boxes)
{
    const std::vector<CGVertex>& positions = surface.positions;
    std::vector<bool> used(positions.size(), false);
    std::vector<double> lengths;
    lengths.reserve(faces.size());
    for (const Face& face : faces) {
        for (std::uint32_t corner : face)
            used[corner] = true;
        lengths.push_back(length(positions[face[1]] - positions[face[0]]));
    }
    if (lengths.empty())
        return 0;
    // A point lies over a face within its height off the plane, which is
    // about half a usual side: a query that reach finds the face.
    std::nth_element(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2), lengths.end());
    const double reach = lengths[lengths.size() / 2];
    const bool normals = surface.normals.size() == positions.size();
    std::uint64_t inserted = 0;
    std::vector<std::uint32_t> near, crossing;
    for (std::uint32_t p = 0; p < positions.size(); ++p) {
        if (used[p])
            continue;
        const CGVertex& at = positions[p];
        Box around;
        around.low[0] = at.x - reach;
        around.low[1] = at.y - reach;
        around.low[2] = at.z - reach;
        around.high[0] = at.x + reach;
        around.high[1] = at.y + reach;
        around.high[2] = at.z + reach;
        near.clear();
        boxes.query(around, near);
        std::sort(near.begin(), near.end());
        std::uint32_t best = static_cast<std::uint32_t>(faces.size());
        double bestHeight = 0.0;
        for (const std::uint32_t f : near) {
            const Face& face = faces[f];
            const CGVertex& a = positions[face[0]];
            const CGVertex& b = positions[face[1]];
            const CGVertex& c = positions[face[2]];
            const CGVector n = cross(b - a, c - a);
            const double nn = dot(n, n);
            if (!(nn > 0.0))
                continue;
            // where the point falls along the normal, in the face's own weights
            const double wa = dot(cross(c - b, at - b), n), wb = dot(cross(a - c, at - c), n);
            const double wc = nn - wa - wb;
            if (!(wa > 0.0 && wb > 0.0 && wc > 0.0))
                continue;
            const double height = std::fabs(dot(at - a, n)) / std::sqrt(nn);
            const double side = std::max({length(b - a), length(c - b), length(a - c)});
            if (!(height <= kFurthest * side))
                continue;
            if (normals && !(dot(surface.normals[p], n) > 0.0))
                continue;
            if (best == faces.size() || height < bestHeight) {
                best = f;
                bestHeight = height;
            }
        }
        if (best == faces.size())
            continue;
        const Face old = faces[best];
        const std::array<Face, 3> made = {Face{old[0], old[1], p}, Face{old[1], old[2], p}, Face{old[2], old[0], p}};
        bool fits = true;
        for (const Face& face : made)
            fits = fits && smallestAngleCosine(positions, face) <= kThinnest &&
                   (!normals || faceAgreement(surface, face) >= kLeastAgreement);
        if (!fits)
            continue;
        for (const Face& face : made) {
            crossing.clear();
            boxes.query(boxOf(positions, face), crossing);
            for (const std::uint32_t g : crossing)
                if (g != best && facesIntersect(positions, face, faces[g])) {
                    fits = false;
                    break;
                }
            if (!fits)
                break;
        }
        if (!fits)
            continue;
        faces[best] = made[0];
        boxes.refresh(best);
        for (int k = 1; k < 3; ++k) {
            faces.push_back(made[k]);
            boxes.refresh(static_cast<std::uint32_t>(faces.size() - 1));
        }
        used[p] = true;
        ++inserted;
    }
    return inserted;
}
