#include "search/KdCandidates.h"

#include "kdtree/BoxSearch.h"
#include "kdtree/SphereSearch.h"

#include <algorithm>
#include <cmath>

namespace {

std::size_t query(const KDTree<double>& tree, const CGVertex& centre, double radius, Nodes& out)
{
    const SphereSearch sphere(centre, radius);
    out.clear();
    tree.searchFromRoot(out, sphere);
    return out.size();
}

}  // namespace

void gatherKdCandidates(const Nodes& nodes, const KDTree<double>& tree, const Edge& edge, Nodes& out)
{
    if (gatherNearCandidates(tree, edge, out))
        out = nodes;
}

void gatherBoxCandidates(const KDTree<double>& tree, const CGVertex& low, const CGVertex& high, Nodes& out)
{
    tree.searchFromRoot(out, BoxSearch(low, high));
}

bool gatherBoxInFileOrder(const Nodes& nodes, const KDTree<double>& tree, const CGVertex& centre, double half,
                          Nodes& out)
{
    constexpr double kLargest = 1e150;  // no square of a distance can overflow below this
    constexpr double kFinest = 1e-6;    // rounding stays a billionth of a box this size
    const double farthest = std::max({std::fabs(centre.x), std::fabs(centre.y), std::fabs(centre.z)});
    if (!(half >= kFinest * (1.0 + farthest) && half <= kLargest && farthest <= kLargest))
        return false;
    out.clear();
    gatherBoxCandidates(tree, CGVertex{centre.x - half, centre.y - half, centre.z - half},
                        CGVertex{centre.x + half, centre.y + half, centre.z + half}, out);
    if (out.size() >= nodes.size())
        return false;
    std::sort(out.begin(), out.end(), [](const ReconNode* u, const ReconNode* v) { return u->index < v->index; });
    return true;
}

bool gatherNearCandidates(const KDTree<double>& tree, const Edge& edge, Nodes& out)
{
    const CGVertex& a = edge.from->position;
    const CGVertex& b = edge.to->position;
    const double length = std::sqrt(squaredLength(b - a));
    const CGVertex middle = midpoint(a, b);

    out.clear();
    if (tree.root == nullptr)
        return false;

    // Both ends of the edge are always reported, so a count of exactly 2
    // means the sphere found no other point. Grow it once; if that finds
    // nothing either, every node is a candidate. The second radius is twice
    // the edge length, not twice the first radius.
    if (query(tree, middle, 1.5 * length, out) != 2)
        return false;
    return query(tree, middle, 2.0 * length, out) == 2;
}
