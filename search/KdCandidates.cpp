#include "search/KdCandidates.h"

#include "kdtree/BoxSearch.h"
#include "kdtree/SphereSearch.h"
#include "mesh/Reconstruct.h"

#include <cmath>

namespace {

std::size_t query(const Reconstruct& triangulator, const CGVertex& centre, double radius, Nodes& out)
{
    const SphereSearch sphere(centre, radius);
    out.clear();
    triangulator.kdTree.searchFromRoot(out, sphere);
    return out.size();
}

}  // namespace

void gatherKdCandidates(const Reconstruct& triangulator, const Edge& edge, Nodes& out)
{
    if (gatherNearCandidates(triangulator, edge, out))
        out = triangulator.nodes;
}

void gatherBoxCandidates(const Reconstruct& triangulator, const CGVertex& low, const CGVertex& high, Nodes& out)
{
    triangulator.kdTree.searchFromRoot(out, BoxSearch(low, high));
}

bool gatherNearCandidates(const Reconstruct& triangulator, const Edge& edge, Nodes& out)
{
    const CGVertex& a = edge.from->position;
    const CGVertex& b = edge.to->position;
    const double length = std::sqrt(squaredLength(b - a));
    const CGVertex middle = {(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5};

    out.clear();
    if (triangulator.kdTree.root == nullptr)
        return false;

    // Both ends of the edge are always reported, so a count of exactly 2
    // means the sphere found no other point. Grow it once; if that finds
    // nothing either, every node is a candidate. The second radius is twice
    // the edge length, not twice the first radius.
    if (query(triangulator, middle, 1.5 * length, out) != 2)
        return false;
    return query(triangulator, middle, 2.0 * length, out) == 2;
}
