#pragma once

#include "geometry/Surface.h"
#include "viewer/Framing.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class GLUquadric;

// What a frame draws, as GL reads it from arrays: built once per surface,
// then every frame is a handful of calls however large the surface is.
class SceneArrays {
public:
    SceneArrays() = default;
    ~SceneArrays() = default;

    SceneArrays(const SceneArrays&) = delete;
    SceneArrays& operator=(const SceneArrays&) = delete;

    // Fills the arrays from surface, placed as framing says, and records
    // one point sphere into a GL display list with quadric. Needs a current
    // context; the list replaces any made before.
    void build(const Surface& surface, const Framing& framing, GLUquadric* quadric);

    // True when the arrays were built from this very surface, unchanged in
    // size, with this framing.
    bool builtFor(const Surface& surface, const Framing& framing) const;

    // Frees the arrays and, while its context is still current, the list.
    void release();

    // The memory the arrays hold, in bytes.
    std::size_t bytes() const;

    std::vector<float> positions;      // x, y, z per point, placed, as GL would round them
    std::vector<float> normals;        // x, y, z per point, as stored
    std::vector<std::uint32_t> edges;  // two point places per triangle side, each side once
    const Face* faces = nullptr;       // the surface's own, not owned
    std::size_t faceCount = 0;
    unsigned sphereList = 0;  // a GL display list drawing one point's sphere at the origin; 0 for none

private:
    const Surface* source = nullptr;  // not owned; only compared
    std::size_t pointCount = 0;
    Framing framed;
};
