#include "viewer/SceneArrays.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr int kPointSlices = 8;
constexpr int kPointStacks = 8;

enum Buffer { kPositions, kNormals, kFaces, kEdges };

// Buffer objects came with OpenGL 1.5; before that only client arrays.
bool hasBuffers()
{
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (version == nullptr)
        return false;
    char* rest = nullptr;
    const long major = std::strtol(version, &rest, 10);
    const long minor = *rest == '.' ? std::strtol(rest + 1, nullptr, 10) : 0;
    return major > 1 || (major == 1 && minor >= 5);
}

std::size_t upload(unsigned buffer, GLenum target, const void* data, std::size_t bytes)
{
    glBindBuffer(target, buffer);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), data, GL_STATIC_DRAW);
    glBindBuffer(target, 0);
    return bytes;
}

// The place (3 * face + corner) of each side's first coming, in order.
std::vector<std::size_t> firstOfEachSide(const Faces& faces)
{
    // The side whichever way it runs, and its place.
    std::vector<std::pair<std::uint64_t, std::size_t>> sides;
    sides.reserve(faces.size() * 3);
    std::size_t place = 0;
    for (const Face& face : faces)
        for (int i = 0; i < 3; ++i, ++place) {
            const std::uint64_t a = face[i];
            const std::uint64_t b = face[(i + 1) % 3];
            sides.emplace_back(a < b ? (a << 32) | b : (b << 32) | a, place);
        }
    std::sort(sides.begin(), sides.end());
    std::vector<std::size_t> first;
    for (std::size_t i = 0; i < sides.size(); ++i)
        if (i == 0 || sides[i].first != sides[i - 1].first)
            first.push_back(sides[i].second);
    std::sort(first.begin(), first.end());
    return first;
}

}  // namespace

std::vector<std::uint32_t> sidesOnce(const Faces& faces)
{
    std::vector<std::uint32_t> edges;
    const std::vector<std::size_t> first = firstOfEachSide(faces);
    edges.reserve(first.size() * 2);
    for (const std::size_t side : first) {
        const Face& face = faces[side / 3];
        edges.push_back(face[side % 3]);
        edges.push_back(face[(side % 3 + 1) % 3]);
    }
    return edges;
}

void SceneArrays::build(const Surface& surface, const Framing& framing, GLUquadric* quadric)
{
    release();
    positions.reserve(surface.positions.size() * 3);
    for (const CGVertex& point : surface.positions) {
        const CGVertex placed = framing.place(point);
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
    faceIndices = surface.faces.size() * 3;
    edgeIndices = edges.size();

    if (hasBuffers()) {
        glGenBuffers(4, buffers);
        bufferBytes += upload(buffers[kPositions], GL_ARRAY_BUFFER, positions.data(), positions.size() * sizeof(float));
        bufferBytes += upload(buffers[kNormals], GL_ARRAY_BUFFER, normals.data(), normals.size() * sizeof(float));
        bufferBytes += upload(buffers[kFaces], GL_ELEMENT_ARRAY_BUFFER, faces, faceIndices * sizeof(std::uint32_t));
        bufferBytes +=
            upload(buffers[kEdges], GL_ELEMENT_ARRAY_BUFFER, edges.data(), edgeIndices * sizeof(std::uint32_t));
        // The driver holds its own copies now.
        normals = {};
        edges = {};
        faces = nullptr;
    }

    sphereList = glGenLists(1);
    if (sphereList != 0) {
        glNewList(sphereList, GL_COMPILE);
        gluSphere(quadric, framing.pointRadius, kPointSlices, kPointStacks);
        glEndList();
    }
    source = &surface;
    sourcePoints = surface.positions.size();
    sourceFaces = surface.faces.data();
    framed = framing;
}

bool SceneArrays::builtFor(const Surface& surface, const Framing& framing) const
{
    return source == &surface && sourcePoints == surface.positions.size() && sourceFaces == surface.faces.data() &&
           faceIndices == surface.faces.size() * 3 && framed.centre.x == framing.centre.x &&
           framed.centre.y == framing.centre.y && framed.centre.z == framing.centre.z &&
           framed.scale == framing.scale && framed.pointRadius == framing.pointRadius;
}

void SceneArrays::release()
{
    if (sphereList != 0)
        glDeleteLists(sphereList, 1);
    sphereList = 0;
    if (buffers[0] != 0)
        glDeleteBuffers(4, buffers);
    std::fill(std::begin(buffers), std::end(buffers), 0U);
    bufferBytes = 0;
    positions = {};
    normals = {};
    edges = {};
    faces = nullptr;
    faceIndices = 0;
    edgeIndices = 0;
    source = nullptr;
    sourcePoints = 0;
    sourceFaces = nullptr;
}

std::size_t SceneArrays::bytes() const
{
    return (positions.capacity() + normals.capacity()) * sizeof(float) + edges.capacity() * sizeof(std::uint32_t) +
           bufferBytes;
}

void SceneArrays::usePositions() const
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[kPositions]);
    glVertexPointer(3, GL_FLOAT, 0, buffers[kPositions] != 0 ? nullptr : positions.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void SceneArrays::drawPoints() const
{
    usePositions();
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(pointCount()));
}

void SceneArrays::drawFaces() const
{
    usePositions();
    glEnableClientState(GL_NORMAL_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[kNormals]);
    glNormalPointer(GL_FLOAT, 0, buffers[kNormals] != 0 ? nullptr : normals.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[kFaces]);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(faceIndices), GL_UNSIGNED_INT,
                   buffers[kFaces] != 0 ? nullptr : faces);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDisableClientState(GL_NORMAL_ARRAY);
}

void SceneArrays::drawEdges() const
{
    usePositions();
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[kEdges]);
    glDrawElements(GL_LINES, static_cast<GLsizei>(edgeIndices), GL_UNSIGNED_INT,
                   buffers[kEdges] != 0 ? nullptr : edges.data());
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}
