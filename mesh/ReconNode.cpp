#include "mesh/ReconNode.h"

ReconNode::ReconNode(const CGVertex& at, const CGVector& facing, std::size_t place)
    : position(at), normal(facing), index(place)
{
}

ReconNode::~ReconNode()
{
    for (Edge* edge : edges)
        delete edge;
}
