#pragma once

#include "geometry/Surface.h"
#include "viewer/Framing.h"
#include "viewer/HiddenSides.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class GLUquadric;

// Each side of the faces once, where it first comes in their order and the
// way that face runs it, as pairs of point places: a side two triangles
// share is one line, not two drawn over each other, and the lines follow
// the triangles, so a point is still at hand when GL reads it again.
std::vector<std::uint32_t> sidesOnce(const Faces& faces);

// What a frame draws, as GL reads it from arrays: built once per surface,
// then every frame is a handful of calls however large the surface is.
// Where the driver has buffer objects the arrays are handed to it once and
// only the positions stay here (each point's sphere is placed from them).
class SceneArrays {
public:
    SceneArrays() = default;
    ~SceneArrays() = default;

    SceneArrays(const SceneArrays&) = delete;
    SceneArrays& operator=(const SceneArrays&) = delete;

    // Builds the arrays from surface, placed as framing says, and records
    // one point's sphere into a display list with quadric. Needs a current
    // context; replaces whatever was built before.
    void build(const Surface& surface, const Framing& framing, GLUquadric* quadric);

    // True when the arrays were built from this very surface, unchanged in
    // size, with this framing.
    bool builtFor(const Surface& surface, const Framing& framing) const;

    // Frees the arrays, and the list and buffers while their context is
    // still current.
    void release();

    // Memory held here and in the driver's buffers, in bytes.
    std::size_t bytes() const;

    std::size_t pointCount() const { return placeOf.size(); }
    bool hasFaces() const { return faceIndices > 0; }
    bool hasEdges() const { return edgeIndices > 0; }
    unsigned sphere() const { return sphereList; }  // a display list; 0 for none

    // The placed point i of the surface, as GL rounds it.
    const float* position(std::size_t i) const { return positions.data() + 3 * std::size_t{placeOf[i]}; }

    // Each points GL's vertex array (and the normal array) at what was
    // built, then draws; the arrays stay enabled for the next call.
    void usePositions() const;
    void drawPoints() const;
    void drawFaces() const;  // with the stored normals
    void drawEdges() const;  // each triangle side once

    // drawEdges, but only the sides that may show over what the frame holds
    // already (see HiddenSides), seen through modelView and GL's projection
    // and viewport. Reads GL's depth for the width by height pixels from
    // the window's corner that the frame is drawn into, so it waits for
    // everything drawn before it.
    void drawEdgesInFront(const Matrix4& modelView, int width, int height);

private:
    // GL's arrays hold the points in the order the faces first use them;
    // placeOf[i] is where the surface's point i went.
    std::vector<std::uint32_t> placeOf;
    std::vector<float> positions;      // x, y, z per point, placed
    std::vector<float> normals;        // x, y, z per point, as stored; empty once in a buffer
    std::vector<std::uint32_t> edges;  // two point places per side; empty once in a buffer
    Faces faces;                       // with the points' places; empty once in a buffer
    std::size_t faceIndices = 0;
    std::size_t edgeIndices = 0;
    unsigned sphereList = 0;
    // Buffer objects: positions, normals, faces, edges; all 0 without them.
    unsigned buffers[4] = {};
    std::size_t bufferBytes = 0;
    // A frame's working memory for drawEdgesInFront, kept for the next.
    HiddenSides hidden;

    const Surface* source = nullptr;  // not owned; only compared
    std::size_t sourcePoints = 0;
    const Face* sourceFaces = nullptr;  // not owned; only compared
    Framing framed;
};
