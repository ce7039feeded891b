#include "repair/EdgeTable.h"

#include <algorithm>
#include <cassert>

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

    struct Entry {
        std::uint32_t higher;
        std::uint32_t halfEdge;
        std::uint32_t across;
        bool up;
        bool operator<(const Entry& other) const
        {
            return higher < other.higher || (higher == other.higher && halfEdge < other.halfEdge);
        }
    };
    std::vector<Entry> entries(halfEdgeCount);
    {
        // The faces are read once, in order; everything later asks of them
        // is copied out here.
        std::vector<std::uint32_t> next(bucket.begin(), bucket.end() - 1);
        for (std::uint32_t f = 0; f < faces.size(); ++f) {
            const Face& face = faces[f];
            for (std::uint32_t k = 0; k < 3; ++k) {
                const std::uint32_t a = face[k], b = face[(k + 1) % 3];
                entries[next[std::min(a, b)]++] = {std::max(a, b), 3 * f + k, face[(k + 2) % 3], a < b};
            }
        }
    }

    byPoint_.assign(pointCount + 1, 0);
    start_.reserve(halfEdgeCount / 2 + 1);
    lower_.reserve(halfEdgeCount / 2);
    higher_.reserve(halfEdgeCount / 2);
    halfEdges_.resize(halfEdgeCount);
    runsUp_.resize(halfEdgeCount);
    across_.resize(halfEdgeCount);
    edgeOf_.resize(halfEdgeCount);
    for (std::size_t p = 0; p < pointCount; ++p) {
        byPoint_[p] = static_cast<std::uint32_t>(lower_.size());
        const auto first = entries.begin() + bucket[p], last = entries.begin() + bucket[p + 1];
        std::sort(first, last);
        for (auto it = first; it != last; ++it) {
            const auto at = static_cast<std::uint32_t>(it - entries.begin());
            if (it == first || it->higher != (it - 1)->higher) {
                start_.push_back(at);
                lower_.push_back(static_cast<std::uint32_t>(p));
                higher_.push_back(it->higher);
            }
            halfEdges_[at] = it->halfEdge;
            runsUp_[at] = it->up;
            across_[at] = it->across;
            edgeOf_[it->halfEdge] = static_cast<std::uint32_t>(lower_.size() - 1);
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

std::vector<bool> EdgeTable::repeatedFaces(std::size_t faceCount) const
{
    std::vector<bool> repeated(faceCount, false);
    for (std::size_t e = 0; e < edgeCount(); ++e) {
        const std::uint32_t n = uses(e);
        for (std::uint32_t j = 1; j < n; ++j)
            for (std::uint32_t i = 0; i < j; ++i)
                if (across(e, i) == across(e, j) && faceOf(use(e, i)) != faceOf(use(e, j)))
                    repeated[faceOf(use(e, j))] = true;
    }
    return repeated;
}
