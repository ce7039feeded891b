#include "records/Edge.h"

#include "records/ReconNode.h"

Edge* findEdge(const ReconNode* a, const ReconNode* b)
{
    if (const EdgeHub* hub = a->edges.hub()) {
        const auto found = hub->byEnd.find(b);
        return found == hub->byEnd.end() ? nullptr : found->second;
    }
    for (Edge* edge : a->edges)
        if (edge->to == b)
            return edge;
    return nullptr;
}

bool isClosed(const ReconNode* n)
{
    return !n->edges.empty() && n->openEdgeCount == 0;
}

bool canConnect(const ReconNode* a, const ReconNode* b)
{
    if (isClosed(b))
        return false;
    const Edge* edge = findEdge(a, b);
    return edge == nullptr || edge->triangleCount != 2;
}
