#pragma once

#include "geometry/CGVertex.h"
#include "records/ReconNode.h"

// A ball as a query range for KDTree::searchFromRoot: the closed sphere of
// radius around centre.
class SphereSearch {
public:
    SphereSearch(const CGVertex& at, double size) : centre(at), radius(size) {}

    // True when point's position lies in the ball or on its surface.
    bool contains(const ReconNode* point) const
    {
        const double dx = point->position.x - centre.x;
        const double dy = point->position.y - centre.y;
        const double dz = point->position.z - centre.z;
        // Squares on both sides: no square root, and the surface counts as inside.
        return radius * radius >= dx * dx + dy * dy + dz * dz;
    }

    // The cube of edge 2 * radius around centre.
    void bounds(CGVertex& min, CGVertex& max) const
    {
        min.x = centre.x - radius;
        min.y = centre.y - radius;
        min.z = centre.z - radius;
        max.x = centre.x + radius;
        max.y = centre.y + radius;
        max.z = centre.z + radius;
    }

    CGVertex centre;
    double radius;
};
