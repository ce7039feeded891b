#include "io/MeshWriter.h"
#include "geometry/Surface.h"
#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sstream>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::tempPath;

namespace {

struct Mesh {
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    std::vector<std::size_t> corners;  // three per face
};

// A square of two triangles plus a point that lies on a corner of it and a
// free point far off: coincident points must stay apart in the file.
class MeshWriter : public testing::Test {
protected:
    void SetUp() override
    {
        testsupport::loadPoints(r, "0.1 0 0 0 0 1\n"
                                   "1 0 0 0 0 1\n"
                                   "0 1 0 0.25 0 1\n"
                                   "1 1 0 0 0 1\n"
                                   "0.1 0 0 0 0 1\n"
                                   "9 9 9 0 0 1\n");
        r.addTriangle(r.nodes[4], r.nodes[1], r.nodes[2]);
        r.addTriangle(r.nodes[1], r.nodes[3], r.nodes[2]);
    }

    void expectSameMesh(const Mesh& m) const
    {
        ASSERT_EQ(m.positions.size(), r.nodes.size());
        for (std::size_t i = 0; i < r.nodes.size(); ++i) {
            EXPECT_EQ(std::memcmp(&m.positions[i], &r.nodes[i]->position, sizeof(CGVertex)), 0) << i;
            if (!m.normals.empty()) {
                EXPECT_EQ(std::memcmp(&m.normals[i], &r.nodes[i]->normal, sizeof(CGVector)), 0) << i;
            }
        }
        ASSERT_EQ(m.corners.size(), 3 * r.triangles.size());
        for (std::size_t t = 0; t < r.triangles.size(); ++t)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(m.corners[3 * t + k], r.triangles[t].source[k]);
        EXPECT_EQ(m.corners[0], 4u);  // the coincident point, not point 0
    }

    Reconstruct r;
};

Mesh readPly(const std::string& bytes)
{
    Mesh m;
    const std::size_t end = bytes.find("end_header\n");
    std::istringstream header(bytes.substr(0, end));
    std::string line;
    std::size_t vertices = 0, faces = 0;
    while (std::getline(header, line)) {
        std::sscanf(line.c_str(), "element vertex %zu", &vertices);
        std::sscanf(line.c_str(), "element face %zu", &faces);
    }
    const char* p = bytes.data() + end + 11;
    for (std::size_t i = 0; i < vertices; ++i) {
        double v[6];
        std::memcpy(v, p, sizeof v);
        p += sizeof v;
        m.positions.push_back({v[0], v[1], v[2]});
        m.normals.push_back({v[3], v[4], v[5]});
    }
    for (std::size_t i = 0; i < faces; ++i) {
        EXPECT_EQ(*p, 3);
        ++p;
        for (int k = 0; k < 3; ++k) {
            std::int32_t index;
            std::memcpy(&index, p, 4);
            p += 4;
            m.corners.push_back(static_cast<std::size_t>(index));
        }
    }
    EXPECT_EQ(p, bytes.data() + bytes.size());
    return m;
}

Mesh readObj(const std::string& text)
{
    Mesh m;
    std::istringstream lines(text);
    std::string kind;
    while (lines >> kind) {
        if (kind == "v") {
            CGVertex v;
            lines >> v.x >> v.y >> v.z;
            m.positions.push_back(v);
        } else if (kind == "vn") {
            CGVector n;
            lines >> n.x >> n.y >> n.z;
            m.normals.push_back(n);
        } else if (kind == "f") {
            for (int k = 0; k < 3; ++k) {
                std::size_t a, b;
                char slash;
                lines >> a >> slash >> slash >> b;
                EXPECT_EQ(a, b);
                m.corners.push_back(a - 1);
            }
        } else {
            std::getline(lines, kind);  // a comment
        }
    }
    return m;
}

Mesh readOff(const std::string& text)
{
    Mesh m;
    std::istringstream in(text);
    std::string magic;
    std::size_t vertices, faces, edges;
    in >> magic >> vertices >> faces >> edges;
    EXPECT_EQ(magic, "OFF");
    for (std::size_t i = 0; i < vertices; ++i) {
        CGVertex v;
        in >> v.x >> v.y >> v.z;
        m.positions.push_back(v);
    }
    for (std::size_t i = 0; i < faces; ++i) {
        int three;
        std::size_t a, b, c;
        in >> three >> a >> b >> c;
        m.corners.insert(m.corners.end(), {a, b, c});
    }
    return m;
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

}  // namespace

TEST_F(MeshWriter, PlyRoundTripsExactly)
{
    const std::string path = tempPath("square.ply");
    ASSERT_TRUE(writeMesh(path, r.surface()));
    expectSameMesh(readPly(readFile(path)));
}

TEST_F(MeshWriter, ObjRoundTripsExactly)
{
    const std::string path = tempPath("square.OBJ");  // extensions in any case
    ASSERT_TRUE(writeMesh(path, r.surface()));
    expectSameMesh(readObj(readFile(path)));
}

TEST_F(MeshWriter, OffRoundTripsExactly)
{
    const std::string path = tempPath("square.Off");
    ASSERT_TRUE(writeMesh(path, r.surface()));
    expectSameMesh(readOff(readFile(path)));
}

// STL keeps no shared vertices and only floats: each face carries its own
// rounded corners, after a unit normal.
TEST_F(MeshWriter, StlHoldsEveryFaceAsFloats)
{
    const std::string path = tempPath("square.stl");
    const Surface surface = r.surface();
    ASSERT_TRUE(writeMesh(path, surface));
    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 84 + 50 * surface.faces.size());
    EXPECT_NE(bytes.compare(0, 5, "solid"), 0) << "readers would take it for the text form";
    std::uint32_t count;
    std::memcpy(&count, bytes.data() + 80, 4);
    EXPECT_EQ(count, surface.faces.size());
    for (std::size_t f = 0; f < surface.faces.size(); ++f) {
        float v[12];
        std::memcpy(v, bytes.data() + 84 + 50 * f, sizeof v);
        EXPECT_FLOAT_EQ(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 1.0f);
        EXPECT_FLOAT_EQ(v[2], 1.0f);  // the square lies in z = 0, wound counter-clockwise from above
        for (int k = 0; k < 3; ++k) {
            const CGVertex& p = surface.positions[surface.faces[f][k]];
            EXPECT_EQ(v[3 + 3 * k], static_cast<float>(p.x));
            EXPECT_EQ(v[4 + 3 * k], static_cast<float>(p.y));
            EXPECT_EQ(v[5 + 3 * k], static_cast<float>(p.z));
        }
    }
}

TEST_F(MeshWriter, FailuresLeaveNothingBehind)
{
    const std::string folder = tempPath("export-folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(writeMesh(folder + "/mesh.3mf", r.surface()));
    EXPECT_FALSE(writeMesh(folder + "/mesh", r.surface()));
    EXPECT_FALSE(writeMesh(folder + ".d/mesh.ply", r.surface()));
    EXPECT_FALSE(writeMesh(folder + "/missing/mesh.ply", r.surface()));
    // A directory standing where the file should go cannot be replaced.
    ASSERT_EQ(::mkdir((folder + "/taken.ply").c_str(), 0755), 0);
    EXPECT_FALSE(writeMesh(folder + "/taken.ply", r.surface()));
    std::vector<std::string> left = filesIn(folder);
    EXPECT_EQ(left.size(), 3u) << "only ., .. and taken.ply should remain";
}

TEST_F(MeshWriter, ExistingFileIsReplacedWhole)
{
    const std::string path = tempPath("replace.obj");
    testsupport::writeTempFile("replace.obj", std::string(100000, 'x'));
    ASSERT_TRUE(writeMesh(path, r.surface()));
    expectSameMesh(readObj(readFile(path)));
}
