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
                          Nodes& out, const LeafBuckets* buckets)
{
    constexpr double kLargest = 1e150;  // no square of a distance can overflow below this
    constexpr double kFinest = 1e-6;    // rounding stays a billionth of a box this size
    const double farthest = std::max({std::fabs(centre.x), std::fabs(centre.y), std::fabs(centre.z)});
    if (!(half >= kFinest * (1.0 + farthest) && half <= kLargest && farthest <= kLargest))
        return false;
    out.clear();
    const CGVertex low{centre.x - half, centre.y - half, centre.z - half};
    const CGVertex high{centre.x + half, centre.y + half, centre.z + half};
    // Either way out holds exactly the points of the closed box, then
    // sorted into file order.
    if (buckets != nullptr && !buckets->empty())
        buckets->appendInBox(low, high, out);
    else
        gatherBoxCandidates(tree, low, high, out);
    if (out.size() >= nodes.size())
        return false;
    std::sort(out.begin(), out.end(), [](const ReconNode* u, const ReconNode* v) { return u->index < v->index; });
    return true;
}

double outsideScoreFloor(const CGVertex& middle, double radius, double squaredEdge)
{
    // A point outside the sphere, as its test rounds, lies farther than
    // radius (1 - 4u) from the rounded midpoint; that lies within
    // 2u (|x| + |y| + |z|) of the true one. By the parallelogram law the
    // true score is the squared distance from the true midpoint plus a
    // quarter of the true squared length, and the scan's doubles come
    // within 6u below it. The error is absolute in the coordinates, not
    // relative to the edge: far from the origin a short edge's bound
    // shrinks to the quarter square alone. Margins are taken generously.
    constexpr double u = 0x1p-53;
    const double sum = std::fabs(middle.x) + std::fabs(middle.y) + std::fabs(middle.z);
    // Away from underflow and overflow every rounding is relative.
    if (!(squaredEdge >= 1e-200 && radius <= 1e100 && sum <= 1e150))
        return 0.0;
    const double shift = 4.0 * u * (sum + radius);
    const double reach = std::max(radius * (1.0 - 16.0 * u) - shift, 0.0);
    return (reach * reach + squaredEdge * 0.25) * (1.0 - 64.0 * u) * (1.0 - 1e-9);
}

bool gatherNearCandidates(const KDTree<double>& tree, const Edge& edge, Nodes& out)
{
    const CGVertex& a = edge.from->position;
    const CGVertex& b = edge.to->position;
    const double length = std::sqrt(squaredLength(b - a));
    const CGVertex middle = midpoint(a, b);

    out.clear();
    if (tree.empty())
        return false;

    // Both ends of the edge are always reported, so a count of exactly 2
    // means the sphere found no other point. Grow it once; if that finds
    // nothing either, every node is a candidate. The second radius is twice
    // the edge length, not twice the first radius.
    if (query(tree, middle, 1.5 * length, out) != 2)
        return false;
    return query(tree, middle, 2.0 * length, out) == 2;
}
