#pragma once

#include "geometry/CGVertex.h"
#include "records/ReconNode.h"

// An axis-aligned box as a query range for KDTree::searchFromRoot, sides
// included. A query with it reports exactly the points inside the box.
class BoxSearch {
public:
    BoxSearch(const CGVertex& low, const CGVertex& high) : lowest(low), highest(high) {}

    bool contains(const ReconNode* point) const
    {
        const CGVertex& p = point->position;
        return lowest.x <= p.x && p.x <= highest.x && lowest.y <= p.y && p.y <= highest.y && lowest.z <= p.z &&
               p.z <= highest.z;
    }

    void bounds(CGVertex& min, CGVertex& max) const
    {
        min = lowest;
        max = highest;
    }

    CGVertex lowest;
    CGVertex highest;
};
