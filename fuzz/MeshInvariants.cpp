#include "fuzz/MeshInvariants.h"

#include "mesh/Reconstruct.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::string describe(const char* what, std::size_t a, std::size_t b = 0)
{
    std::ostringstream text;
    text << what << " (" << a << ", " << b << ")";
    return text.str();
}

}  // namespace

std::string findInvariantFault(const Reconstruct& result)
{
    if (!result.front.empty())
        return describe("front not empty after the run", result.front.size());

    std::unordered_map<const ReconNode*, std::size_t> place;
    for (std::size_t i = 0; i < result.nodes.size(); ++i) {
        if (result.nodes[i]->index != i)
            return describe("node index differs from its place", i, result.nodes[i]->index);
        place.emplace(result.nodes[i], i);
    }

    // Marks, by node place, the ends already seen from the current node: a
    // hub of many sides is checked for repeats in linear time.
    std::vector<std::size_t> seenFrom(result.nodes.size(), SIZE_MAX);
    for (std::size_t i = 0; i < result.nodes.size(); ++i) {
        const ReconNode* node = result.nodes[i];
        std::size_t k = 0;
        for (const Edge* e : node->edges) {
            if (e->from != node)
                return describe("edge held by a node it does not start at", i, k);
            const auto to = place.find(e->to);
            if (to == place.end())
                return describe("edge ends outside the node list", i, k);
            if (e->to == node)
                return describe("edge from a node to itself", i);
            if (e->triangleCount != 1 && e->triangleCount != 2)
                return describe("edge counts neither 1 nor 2 triangles", i, e->triangleCount);
            if (seenFrom[to->second] == i)
                return describe("two edges between the same nodes", i, to->second);
            seenFrom[to->second] = i;
            const Edge* back = findEdge(e->to, node);
            if (back == nullptr)
                return describe("edge without its reverse", i, to->second);
            if (back->triangleCount != e->triangleCount)
                return describe("edge and its reverse count differently", i, to->second);
            ++k;
        }
    }

    std::vector<bool> corner(result.nodes.size(), false);
    for (std::size_t t = 0; t < result.triangles.size(); ++t) {
        const Triangle& triangle = result.triangles[t];
        for (int c = 0; c < 3; ++c) {
            const std::size_t s = triangle.source[c];
            if (s >= result.nodes.size())
                return describe("triangle corner from no node", t, s);
            const ReconNode* node = result.nodes[s];
            if (node->isFree())
                return describe("triangle corner is a free node", t, s);
            corner[s] = true;
        }
        for (int c = 0; c < 3; ++c) {
            const std::size_t s = triangle.source[c];
            const std::size_t u = triangle.source[(c + 1) % 3];
            if (s == u)
                return describe("triangle uses one node twice", t, s);
            if (findEdge(result.nodes[s], result.nodes[u]) == nullptr)
                return describe("triangle side without an edge", s, u);
        }
    }
    for (std::size_t i = 0; i < result.nodes.size(); ++i)
        if (!result.nodes[i]->isFree() && !corner[i])
            return describe("node has edges but is no triangle's corner", i);
    return {};
}
