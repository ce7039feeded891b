#include "kdtree/SphereSearch.h"

#include "mesh/ReconNode.h"

SphereSearch::SphereSearch(const CGVertex& at, double size) : centre(at), radius(size) {}

bool SphereSearch::contains(const ReconNode* point) const
{
    const double dx = point->position.x - centre.x;
    const double dy = point->position.y - centre.y;
    const double dz = point->position.z - centre.z;
    // Squares on both sides: no square root, and the surface counts as inside.
    return radius * radius >= dx * dx + dy * dy + dz * dz;
}

void SphereSearch::bounds(CGVertex& min, CGVertex& max) const
{
    min.x = centre.x - radius;
    min.y = centre.y - radius;
    min.z = centre.z - radius;
    max.x = centre.x + radius;
    max.y = centre.y + radius;
    max.z = centre.z + radius;
}
