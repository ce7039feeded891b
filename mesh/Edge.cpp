#include "mesh/Edge.h"

#include "mesh/ReconNode.h"

Edge* findEdge(const ReconNode* a, const ReconNode* b)
{
    for (Edge* edge : a->edges)
        if (edge->to == b)
            return edge;
    return nullptr;
}

Edge* newEdge(ReconNode* a, ReconNode* b)
{
    Edge* edge = new Edge{a, b, 0};
    a->edges.push_back(edge);
    return edge;
}

Edge* registerEdge(ReconNode* a, ReconNode* b)
{
    Edge* edge = findEdge(a, b);
    if (edge == nullptr) {
        edge = newEdge(a, b);
        edge->triangleCount = 1;
    } else {
        edge->triangleCount = 2;
    }
    return edge;
}

bool isClosed(const ReconNode* n)
{
    if (n->edges.empty())
        return false;
    for (const Edge* edge : n->edges)
        if (edge->triangleCount != 2)
            return false;
    return true;
}

bool canConnect(const ReconNode* a, const ReconNode* b)
{
    if (isClosed(b))
        return false;
    const Edge* edge = findEdge(a, b);
    return edge == nullptr || edge->triangleCount != 2;
}
