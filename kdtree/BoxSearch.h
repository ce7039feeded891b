#pragma once

#include "geometry/CGVertex.h"
#include "kdtree/KDTree.h"
#include "records/ReconNode.h"

// An axis-aligned box as a query range, sides included. A query with it
// reports exactly the points inside the box.
class BoxSearch final : public KDTree<double>::SearchRange {
public:
    BoxSearch(const CGVertex& low, const CGVertex& high) : lowest(low), highest(high) {}

    bool contains(const ReconNode* point) const override
    {
        const CGVertex& p = point->position;
        return lowest.x <= p.x && p.x <= highest.x && lowest.y <= p.y && p.y <= highest.y && lowest.z <= p.z &&
               p.z <= highest.z;
    }

    void bounds(CGVertex& min, CGVertex& max) const override
    {
        min = lowest;
        max = highest;
    }

    CGVertex lowest;
    CGVertex highest;
};
