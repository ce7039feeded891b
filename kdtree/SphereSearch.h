#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"

// A ball as a query range: the closed sphere of radius around centre.
class SphereSearch : public KDTree<double>::SearchRange {
public:
    SphereSearch(const CGVertex& centre, double radius);

    // True when point's position lies in the ball or on its surface.
    bool contains(const ReconNode* point) const override;

    // The cube of edge 2 * radius around centre.
    void bounds(CGVertex& min, CGVertex& max) const override;

    CGVertex centre;
    double radius;
};
