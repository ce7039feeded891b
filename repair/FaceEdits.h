#pragma once

#include "geometry/Surface.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

// Small edits of a face list that the repair's steps share.

constexpr std::uint32_t kNoFace = std::numeric_limits<std::uint32_t>::max();

inline std::uint64_t keepMarked(Faces& faces, const std::vector<bool>& keep)
{
    std::size_t kept = 0;
    for (std::size_t f = 0; f < faces.size(); ++f)
        if (keep[f])
            faces[kept++] = faces[f];
    const std::size_t removed = faces.size() - kept;
    faces.resize(kept);
    return removed;
}

// The corner of a half-edge's face off that half-edge.
inline std::uint32_t thirdCorner(const Faces& faces, std::uint32_t halfEdge)
{
    return faces[halfEdge / 3][(halfEdge % 3 + 2) % 3];
}

// One key for the edge a-b whichever way it is named.
inline std::uint64_t edgeKey(std::uint32_t a, std::uint32_t b)
{
    return (std::uint64_t{std::min(a, b)} << 32) | std::max(a, b);
}
