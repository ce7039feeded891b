#pragma once

#include <cstdint>
#include <vector>

class ReconNode;

// A directed side from -> to. Every side of the surface exists in both
// directions, and both directions carry the same triangleCount (1 or 2).
struct Edge {
    ReconNode* from = nullptr;
    ReconNode* to = nullptr;
    std::uint8_t triangleCount = 0;
};

using Edges = std::vector<Edge*>;

// The first edge a -> b in a's own edge list, or null. Never looks at b's.
Edge* findEdge(const ReconNode* a, const ReconNode* b);

// True when n has edges and every one of them already carries two triangles.
bool isClosed(const ReconNode* n);

// True when b may take one more triangle on a side from a: b is not closed
// and the edge a -> b, if there is one, carries fewer than two triangles.
bool canConnect(const ReconNode* a, const ReconNode* b);
