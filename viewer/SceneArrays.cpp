#include "viewer/SceneArrays.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>

namespace {

constexpr int kPointSlices = 8;
constexpr int kPointStacks = 8;

// Each side of a triangle once, as the smaller place then the larger: a
// side shared by two triangles is drawn by one line, not two over each
// other.
std::vector<std::uint32_t> sidesOnce(const Faces& faces)
{
    std::vector<std::uint64_t> keys;
    keys.reserve(faces.size() * 3);
    for (const Face& face : faces)
        for (int i = 0; i < 3; ++i) {
            const std::uint64_t a = face[i];
            const std::uint64_t b = face[(i + 1) % 3];
            keys.push_back(a < b ? (a << 32) | b : (b << 32) | a);
        }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::vector<std::uint32_t> edges;
    edges.reserve(keys.size() * 2);
    for (const std::uint64_t key : keys) {
        edges.push_back(static_cast<std::uint32_t>(key >> 32));
        edges.push_back(static_cast<std::uint32_t>(key));
    }
    return edges;
}

}  // namespace

void SceneArrays::build(const Surface& surface, const Framing& framing, GLUquadric* quadric)
{
    release();
    positions.reserve(surface.positions.size() * 3);
    for (const CGVertex& position : surface.positions) {
        const CGVertex placed = framing.place(position);
        positions.push_back(static_cast<float>(placed.x));
        positions.push_back(static_cast<float>(placed.y));
        positions.push_back(static_cast<float>(placed.z));
    }
    normals.reserve(surface.normals.size() * 3);
    for (const CGVector& normal : surface.normals) {
        normals.push_back(static_cast<float>(normal.x));
        normals.push_back(static_cast<float>(normal.y));
        normals.push_back(static_cast<float>(normal.z));
    }
    edges = sidesOnce(surface.faces);
    faces = surface.faces.data();
    faceCount = surface.faces.size();

    sphereList = glGenLists(1);
    if (sphereList != 0) {
        glNewList(sphereList, GL_COMPILE);
        gluSphere(quadric, framing.pointRadius, kPointSlices, kPointStacks);
        glEndList();
    }
    source = &surface;
    pointCount = surface.positions.size();
    framed = framing;
}

bool SceneArrays::builtFor(const Surface& surface, const Framing& framing) const
{
    return source == &surface && pointCount == surface.positions.size() && faces == surface.faces.data() &&
           faceCount == surface.faces.size() && framed.centre.x == framing.centre.x &&
           framed.centre.y == framing.centre.y && framed.centre.z == framing.centre.z &&
           framed.scale == framing.scale && framed.pointRadius == framing.pointRadius;
}

void SceneArrays::release()
{
    if (sphereList != 0)
        glDeleteLists(sphereList, 1);
    sphereList = 0;
    positions = {};
    normals = {};
    edges = {};
    faces = nullptr;
    faceCount = 0;
    source = nullptr;
    pointCount = 0;
}

std::size_t SceneArrays::bytes() const
{
    return (positions.capacity() + normals.capacity()) * sizeof(float) + edges.capacity() * sizeof(std::uint32_t);
}
