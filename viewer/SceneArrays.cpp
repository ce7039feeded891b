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

// Each point's place in the arrays GL reads: in the order the faces first
// use them, then the points no face uses, in their own order. Faces that
// follow each other share corners, so a frame then reads the points in
// runs instead of all over memory, which the renderer and the search for
// hidden sides pay for on every point.
std::vector<std::uint32_t> firstUseOrder(const Faces& faces, std::size_t count)
{
    constexpr auto kUnplaced = ~std::uint32_t{0};
    std::vector<std::uint32_t> placeOf(count, kUnplaced);
    std::uint32_t next = 0;
    for (const Face& face : faces)
        for (const std::uint32_t corner : face)
            if (corner < count && placeOf[corner] == kUnplaced)
                placeOf[corner] = next++;
    for (std::uint32_t& place : placeOf)
        if (place == kUnplaced)
            place = next++;
    return placeOf;
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
    const std::size_t count = surface.positions.size();
    placeOf = firstUseOrder(surface.faces, count);
    positions.resize(count * 3);
    normals.assign(count * 3, 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
        const CGVertex placed = framing.place(surface.positions[i]);
        float* at = positions.data() + 3 * std::size_t{placeOf[i]};
        at[0] = static_cast<float>(placed.x);
        at[1] = static_cast<float>(placed.y);
        at[2] = static_cast<float>(placed.z);
        if (i < surface.normals.size()) {
            float* normal = normals.data() + 3 * std::size_t{placeOf[i]};
            normal[0] = static_cast<float>(surface.normals[i].x);
            normal[1] = static_cast<float>(surface.normals[i].y);
            normal[2] = static_cast<float>(surface.normals[i].z);
        }
    }
    faces.clear();
    faces.reserve(surface.faces.size());
    // A corner that names no point stays as it is, for GL to deal with as
    // before.
    const auto placed = [this, count](std::uint32_t corner) { return corner < count ? placeOf[corner] : corner; };
    for (const Face& face : surface.faces)
        faces.push_back({placed(face[0]), placed(face[1]), placed(face[2])});
    edges = sidesOnce(faces);
    faceIndices = faces.size() * 3;
    edgeIndices = edges.size();

    if (hasBuffers()) {
        glGenBuffers(4, buffers);
        bufferBytes += upload(buffers[kPositions], GL_ARRAY_BUFFER, positions.data(), positions.size() * sizeof(float));
        bufferBytes += upload(buffers[kNormals], GL_ARRAY_BUFFER, normals.data(), normals.size() * sizeof(float));
        bufferBytes +=
            upload(buffers[kFaces], GL_ELEMENT_ARRAY_BUFFER, faces.data(), faceIndices * sizeof(std::uint32_t));
        bufferBytes +=
            upload(buffers[kEdges], GL_ELEMENT_ARRAY_BUFFER, edges.data(), edgeIndices * sizeof(std::uint32_t));
        // The driver holds its own copies now.
        normals = {};
        edges = {};
        faces = {};
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
    faces = {};
    placeOf = {};
    faceIndices = 0;
    edgeIndices = 0;
    hidden = {};
    source = nullptr;
    sourcePoints = 0;
    sourceFaces = nullptr;
}

std::size_t SceneArrays::bytes() const
{
    return (positions.capacity() + normals.capacity()) * sizeof(float) +
           (edges.capacity() + placeOf.capacity()) * sizeof(std::uint32_t) + faces.capacity() * sizeof(Face) +
           hidden.bytes() + bufferBytes;
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
    // In the surface's order, so that where round points blend over each
    // other the nearer comes last as before.
    glDrawElements(GL_POINTS, static_cast<GLsizei>(placeOf.size()), GL_UNSIGNED_INT, placeOf.data());
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
                   buffers[kFaces] != 0 ? nullptr : faces.data());
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

void SceneArrays::drawEdgesInFront(const Matrix4& modelView, int width, int height)
{
    Matrix4 projection{};
    GLfloat held[16];
    glGetFloatv(GL_PROJECTION_MATRIX, held);
    std::copy(held, held + 16, projection.begin());
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    hidden.project(positions.data(), pointCount(), multiplied(projection, modelView), viewport);
    glReadPixels(0, 0, width, height, GL_DEPTH_COMPONENT, GL_FLOAT, hidden.depthOf(width, height).data());

    const std::uint32_t* sides = edges.data();
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[kEdges]);
    if (buffers[kEdges] != 0)
        sides = static_cast<const std::uint32_t*>(glMapBuffer(GL_ELEMENT_ARRAY_BUFFER, GL_READ_ONLY));
    if (sides == nullptr) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        drawEdges();
        return;
    }
    const std::vector<std::uint32_t>& shown = hidden.inFront(sides, edgeIndices);
    if (buffers[kEdges] != 0)
        glUnmapBuffer(GL_ELEMENT_ARRAY_BUFFER);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    usePositions();
    glDrawElements(GL_LINES, static_cast<GLsizei>(shown.size()), GL_UNSIGNED_INT, shown.data());
}
