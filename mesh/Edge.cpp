#include "mesh/Edge.h"

#include "mesh/ReconNode.h"

namespace {

constexpr std::size_t kIndexedDegree = 32;

}  // namespace

Edge* findEdge(const ReconNode* a, const ReconNode* b)
{
    if (a->edgeIndex) {
        const auto found = a->edgeIndex->find(b);
        return found == a->edgeIndex->end() ? nullptr : a->edges[found->second];
    }
    for (Edge* edge : a->edges)
        if (edge->to == b)
            return edge;
    return nullptr;
}

Edge* newEdge(ReconNode* a, ReconNode* b)
{
    Edge* edge = new Edge{a, b, 0};
    a->edges.push_back(edge);
    ++a->openEdgeCount;
    if (a->edgeIndex) {
        a->edgeIndex->emplace(b, a->edges.size() - 1);
    } else if (a->edges.size() > kIndexedDegree) {
        // There is at most one edge a -> b, so the table finds the same
        // edge the scan would.
        a->edgeIndex = std::make_unique<std::unordered_map<const ReconNode*, std::size_t>>();
        for (std::size_t i = 0; i < a->edges.size(); ++i)
            a->edgeIndex->emplace(a->edges[i]->to, i);
    }
    return edge;
}

Edge* registerEdge(ReconNode* a, ReconNode* b)
{
    Edge* edge = findEdge(a, b);
    if (edge == nullptr) {
        edge = newEdge(a, b);
        edge->triangleCount = 1;
    } else if (edge->triangleCount != 2) {
        edge->triangleCount = 2;
        --a->openEdgeCount;
    }
    return edge;
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
