#include "repair/TriangleIntersection.h"

#include "repair/ExactPredicates.h"

#include <utility>

namespace {

// An axis to leave out that keeps the triangle's area in 2D; -1 for a
// triangle of no area.
int projectionAxis(const CGVertex& a, const CGVertex& b, const CGVertex& c)
{
    for (int drop = 2; drop >= 0; --drop)
        if (orient2d(a, b, c, drop) != 0)
            return drop;
    return -1;
}

bool between(const CGVertex& p, const CGVertex& a, const CGVertex& b, int drop)
{
    // p on the line a-b: within the segment's extent on both kept axes
    const double c[3][2] = {{drop == 0 ? p.y : p.x, drop == 2 ? p.y : p.z},
                            {drop == 0 ? a.y : a.x, drop == 2 ? a.y : a.z},
                            {drop == 0 ? b.y : b.x, drop == 2 ? b.y : b.z}};
    for (int k = 0; k < 2; ++k) {
        const double lo = c[1][k] < c[2][k] ? c[1][k] : c[2][k];
        const double hi = c[1][k] < c[2][k] ? c[2][k] : c[1][k];
        if (c[0][k] < lo || c[0][k] > hi)
            return false;
    }
    return true;
}

bool segmentsMeet2d(const CGVertex& p, const CGVertex& q, const CGVertex& a, const CGVertex& b, int drop)
{
    const int o1 = orient2d(p, q, a, drop), o2 = orient2d(p, q, b, drop);
    const int o3 = orient2d(a, b, p, drop), o4 = orient2d(a, b, q, drop);
    if (o1 * o2 < 0 && o3 * o4 < 0)
        return true;
    return (o1 == 0 && between(a, p, q, drop)) || (o2 == 0 && between(b, p, q, drop)) ||
           (o3 == 0 && between(p, a, b, drop)) || (o4 == 0 && between(q, a, b, drop));
}

bool insideTriangle2d(const CGVertex& p, const CGVertex& a, const CGVertex& b, const CGVertex& c, int drop)
{
    const int s = orient2d(a, b, c, drop);
    return orient2d(a, b, p, drop) * s >= 0 && orient2d(b, c, p, drop) * s >= 0 && orient2d(c, a, p, drop) * s >= 0;
}

// Whether the direction from v to p lies in the closed angle the triangle
// v, c, d spans at v, all four in one plane.
bool inCorner(const CGVertex& v, const CGVertex& c, const CGVertex& d, const CGVertex& p, int drop)
{
    const int s = orient2d(v, c, d, drop);
    return orient2d(v, c, p, drop) * s >= 0 && orient2d(v, p, d, drop) * s >= 0;
}

}  // namespace

bool segmentMeetsTriangle(const CGVertex& p, const CGVertex& q, const CGVertex& a, const CGVertex& b, const CGVertex& c)
{
    const int sp = orient3d(a, b, c, p), sq = orient3d(a, b, c, q);
    if (sp * sq > 0)
        return false;
    if (sp == 0 && sq == 0) {
        const int drop = projectionAxis(a, b, c);
        if (drop < 0)
            return false;
        return insideTriangle2d(p, a, b, c, drop) || insideTriangle2d(q, a, b, c, drop) ||
               segmentsMeet2d(p, q, a, b, drop) || segmentsMeet2d(p, q, b, c, drop) || segmentsMeet2d(p, q, c, a, drop);
    }
    // The segment reaches the plane once; the line through it passes the
    // closed triangle when it turns the same way past all three sides.
    const int o1 = orient3d(p, q, a, b), o2 = orient3d(p, q, b, c), o3 = orient3d(p, q, c, a);
    return (o1 >= 0 && o2 >= 0 && o3 >= 0) || (o1 <= 0 && o2 <= 0 && o3 <= 0);
}

bool facesIntersect(const std::vector<CGVertex>& positions, const Face& f, const Face& g)
{
    int shared = 0;
    int fAt[3] = {-1, -1, -1};  // for each corner of f, where g has it
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (f[i] == g[j]) {
                fAt[i] = j;
                ++shared;
            }
    const CGVertex* fp[3] = {&positions[f[0]], &positions[f[1]], &positions[f[2]]};
    const CGVertex* gp[3] = {&positions[g[0]], &positions[g[1]], &positions[g[2]]};
    if (shared >= 3)
        return projectionAxis(*fp[0], *fp[1], *fp[2]) >= 0;  // the same face twice covers itself
    // Corners of one face all strictly on one side of the other's plane
    // leave at most the shared corners in common: most pairs end here.
    int side[2][3];
    for (int k = 0; k < 3; ++k) {
        side[0][k] = fAt[k] >= 0 ? 0 : orient3d(*gp[0], *gp[1], *gp[2], *fp[k]);
        side[1][k] = 0;
    }
    const auto oneSide = [shared](const int s[3]) {
        int plus = 0, minus = 0;
        for (int k = 0; k < 3; ++k) {
            plus += s[k] > 0;
            minus += s[k] < 0;
        }
        return plus == 3 - shared || minus == 3 - shared;
    };
    if (oneSide(side[0]))
        return false;
    for (int k = 0; k < 3; ++k) {
        bool sharedCorner = false;
        for (int i = 0; i < 3; ++i)
            sharedCorner = sharedCorner || fAt[i] == k;
        side[1][k] = sharedCorner ? 0 : orient3d(*fp[0], *fp[1], *fp[2], *gp[k]);
    }
    if (oneSide(side[1]))
        return false;
    if (projectionAxis(*fp[0], *fp[1], *fp[2]) < 0 || projectionAxis(*gp[0], *gp[1], *gp[2]) < 0)
        return false;
    if (shared == 2) {
        // Faces on one edge meet beyond it only when they lie in one plane
        // on the same side of it.
        int i = 0;
        while (fAt[i] >= 0)
            ++i;
        int j = 0;
        while (j == fAt[0] || j == fAt[1] || j == fAt[2])
            ++j;
        const CGVertex& a = *fp[(i + 1) % 3];
        const CGVertex& b = *fp[(i + 2) % 3];
        if (orient3d(a, b, *fp[i], *gp[j]) != 0)
            return false;
        const int drop = projectionAxis(a, b, *fp[i]);
        return orient2d(a, b, *fp[i], drop) * orient2d(a, b, *gp[j], drop) > 0;
    }
    if (shared == 1) {
        int i = 0;
        while (fAt[i] < 0)
            ++i;
        const int j = fAt[i];
        const CGVertex& v = *fp[i];
        const CGVertex& a = *fp[(i + 1) % 3];
        const CGVertex& b = *fp[(i + 2) % 3];
        const CGVertex& c = *gp[(j + 1) % 3];
        const CGVertex& d = *gp[(j + 2) % 3];
        if (segmentMeetsTriangle(a, b, v, c, d) || segmentMeetsTriangle(c, d, v, a, b))
            return true;
        // What is left: a side from the shared corner running inside the
        // other face, which takes the two in one plane.
        for (const auto& [end, other] : {std::pair<const CGVertex*, int>{&a, 0}, {&b, 0}, {&c, 1}, {&d, 1}}) {
            const CGVertex& x = other == 0 ? c : a;
            const CGVertex& y = other == 0 ? d : b;
            if (orient3d(v, x, y, *end) == 0 && inCorner(v, x, y, *end, projectionAxis(v, x, y)))
                return true;
        }
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        if (segmentMeetsTriangle(*fp[k], *fp[(k + 1) % 3], *gp[0], *gp[1], *gp[2]) ||
            segmentMeetsTriangle(*gp[k], *gp[(k + 1) % 3], *fp[0], *fp[1], *fp[2]))
            return true;
    }
    return false;
}
