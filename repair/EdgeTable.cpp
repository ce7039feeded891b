#include "repair/EdgeTable.h"

#include <algorithm>
#include <cassert>
#include <utility>

EdgeTable::EdgeTable(const Faces& faces, std::size_t pointCount)
{
    assert(faces.size() < 0xffffffffu / 3);
    const auto halfEdgeCount = static_cast<std::uint32_t>(3 * faces.size());

    // A counting sort on the lower corner puts each point's few edges side
    // by side in linear time; only those few are then sorted.
    std::vector<std::uint32_t> bucket(pointCount + 1, 0);
    for (const Face& face : faces)
        for (int k = 0; k < 3; ++k)
            ++bucket[std::min(face[k], face[(k + 1) % 3]) + 1];
    for (std::size_t p = 0; p < pointCount; ++p)
        bucket[p + 1] += bucket[p];

    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries(halfEdgeCount);  // higher corner, half-edge
    {
        std::vector<std::uint32_t> next(bucket.begin(), bucket.end() - 1);
        for (std::uint32_t h = 0; h < halfEdgeCount; ++h) {
            const std::uint32_t a = from(faces, h), b = to(faces, h);
            entries[next[std::min(a, b)]++] = {std::max(a, b), h};
        }
    }

    byPoint_.assign(pointCount + 1, 0);
    start_.reserve(halfEdgeCount / 2 + 1);
    lower_.reserve(halfEdgeCount / 2);
    higher_.reserve(halfEdgeCount / 2);
    halfEdges_.resize(halfEdgeCount);
    edgeOf_.resize(halfEdgeCount);
    for (std::size_t p = 0; p < pointCount; ++p) {
        byPoint_[p] = static_cast<std::uint32_t>(lower_.size());
        const auto first = entries.begin() + bucket[p], last = entries.begin() + bucket[p + 1];
        std::sort(first, last);
        for (auto it = first; it != last; ++it) {
            const auto at = static_cast<std::uint32_t>(it - entries.begin());
            if (it == first || it->first != (it - 1)->first) {
                start_.push_back(at);
                lower_.push_back(static_cast<std::uint32_t>(p));
                higher_.push_back(it->first);
            }
            halfEdges_[at] = it->second;
            edgeOf_[it->second] = static_cast<std::uint32_t>(lower_.size() - 1);
        }
    }
    byPoint_[pointCount] = static_cast<std::uint32_t>(lower_.size());
    start_.push_back(halfEdgeCount);
}

std::size_t EdgeTable::find(std::uint32_t a, std::uint32_t b) const
{
    const std::uint32_t lo = std::min(a, b), hi = std::max(a, b);
    if (hi + 1 >= byPoint_.size())
        return edgeCount();
    const auto first = higher_.begin() + byPoint_[lo], last = higher_.begin() + byPoint_[lo + 1];
    const auto it = std::lower_bound(first, last, hi);
    if (it == last || *it != hi)
        return edgeCount();
    return static_cast<std::size_t>(it - higher_.begin());
}
