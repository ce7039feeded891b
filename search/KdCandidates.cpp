#include "search/KdCandidates.h"

#include "mesh/Reconstruct.h"

// PLACEHOLDER until the tree lands: every node is a candidate.
void gatherKdCandidates(const Reconstruct& triangulator, const Edge&, Nodes& out)
{
    out = triangulator.nodes;
}
