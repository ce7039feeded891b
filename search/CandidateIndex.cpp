#include "search/CandidateIndex.h"

#include <thread>

CandidateIndex::CandidateIndex(const Nodes& nodes, Kind kind, Progress* progress, bool sphereShortcut, unsigned threads)
    : nodes_(nodes), kind_(kind)
{
    if (kind_ != Kind::kdTree || nodes_.empty())
        return;
    // The tree is the same built on one thread or two.
    if (threads == 0)
        threads = std::thread::hardware_concurrency();
    tree_.build(nodes_, progress, threads >= 2 ? 2 : 1);
    if (sphereShortcut)
        buckets_.build(tree_);
}
