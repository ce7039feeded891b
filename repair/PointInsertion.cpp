#include "repair/PointInsertion.h"

#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
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

std::uint64_t insertLeftOutPoints(const Surface& surface, Faces& faces, FaceBoxTree& boxes,
                                  std::vector<std::uint32_t>* changed)
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
    // Puts the new faces in the old ones' places, the rest at the end, where
    // they keep to the normals, are no slivers and meet no face but those.
    const auto replace = [&](const std::vector<std::uint32_t>& olds, const std::vector<Face>& made) {
        for (const Face& face : made)
            if (smallestAngleCosine(positions, face) > kThinnest ||
                (normals && faceAgreement(surface, face) < kLeastAgreement))
                return false;
        for (const Face& face : made) {
            crossing.clear();
            boxes.query(boxOf(positions, face), crossing);
            for (const std::uint32_t g : crossing)
                if (std::find(olds.begin(), olds.end(), g) == olds.end() && facesIntersect(positions, face, faces[g]))
                    return false;
        }
        for (std::size_t i = 0; i < made.size(); ++i) {
            if (i < olds.size()) {
                faces[olds[i]] = made[i];
                boxes.refresh(olds[i]);
                if (changed != nullptr)
                    changed->push_back(olds[i]);
            } else {
                faces.push_back(made[i]);
                boxes.refresh(static_cast<std::uint32_t>(faces.size() - 1));
            }
        }
        return true;
    };
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
        std::array<double, 3> bestWeights{};
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
                bestWeights = {wa, wb, wc};
            }
        }
        if (best == faces.size())
            continue;
        const Face old = faces[best];
        bool done = replace({best}, {Face{old[0], old[1], p}, Face{old[1], old[2], p}, Face{old[2], old[0], p}});
        if (!done) {
            // Near a side the three faces hold a sliver: split that side
            // and the face beyond it instead, two faces each.
            const auto k = static_cast<std::size_t>(
                (std::min_element(bestWeights.begin(), bestWeights.end()) - bestWeights.begin() + 1) % 3);
            const std::uint32_t x = old[k], y = old[(k + 1) % 3], z = old[(k + 2) % 3];
            std::uint32_t beyond = kNoFace;
            int sharing = 0;
            for (const std::uint32_t g : near) {
                const Face& face = faces[g];
                const bool hasX = face[0] == x || face[1] == x || face[2] == x;
                const bool hasY = face[0] == y || face[1] == y || face[2] == y;
                if (g == best || !hasX || !hasY)
                    continue;
                ++sharing;
                for (int j = 0; j < 3; ++j)
                    if (face[j] == y && face[(j + 1) % 3] == x)
                        beyond = g;
            }
            if (sharing == 1 && beyond != kNoFace) {
                const Face other = faces[beyond];
                std::uint32_t w = other[0];
                for (std::uint32_t corner : other)
                    if (corner != x && corner != y)
                        w = corner;
                done = replace({best, beyond}, {Face{x, p, z}, Face{y, p, w}, Face{p, y, z}, Face{p, x, w}});
            }
        }
        if (done) {
            used[p] = true;
            ++inserted;
        }
    }
    return inserted;
}
