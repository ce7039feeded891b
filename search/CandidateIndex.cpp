#include "search/CandidateIndex.h"

CandidateIndex::CandidateIndex(const Nodes& nodes, Kind kind, Progress* progress, bool sphereShortcut)
    : nodes_(nodes), kind_(kind)
{
    if (kind_ != Kind::kdTree || nodes_.empty())
        return;
    tree_.root = tree_.buildOver(nodes_, progress);
    if (sphereShortcut)
        buckets_.build(tree_.root, nodes_.size());
}
