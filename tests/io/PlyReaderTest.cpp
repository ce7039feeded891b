#include "io/MeshWriter.h"

#include "app/PointLoading.h"
#include "io/PlyReader.h"
#include "io/PointInput.h"
#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using testsupport::writeTempFile;

namespace {

struct Point {
    CGVertex p;
    CGVector n;
};

struct Read {
    bool ok = false;
    std::vector<Point> points;
    PointReadReport report;
};

Read readText(const std::string& name, const std::string& bytes, bool threeNumbersAllowed = true)
{
    Read result;
    const std::string file = writeTempFile(name, bytes);
    result.ok = readPoints(
        file,
        [&result](const CGVertex& p, const CGVector& n) {
            result.points.push_back({p, n});
        },
        threeNumbersAllowed, result.report);
    return result;
}

bool sameBits(const std::vector<Point>& a, const std::vector<Point>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Point)) == 0;
}

// Bytes of one binary value in either byte order.
template <typename T>
std::string bytesOf(T value, bool bigEndian)
{
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    if (bigEndian)
        bytes.assign(bytes.rbegin(), bytes.rend());
    return bytes;
}

// A square and a point above it, with values a float holds exactly, so
// every layout must give the same doubles as the six-number text.
const double kPoints[5][6] = {
    {0, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 1}, {1, 1, 0, 0, 0, 1}, {0.5, 0.5, 0.75, 0, 0.5, -1},
};

std::string sixNumberText()
{
    std::string text;
    for (const auto& p : kPoints) {
        for (int i = 0; i < 6; ++i)
            text += std::to_string(p[i]) + (i < 5 ? " " : "\n");
    }
    return text;
}

}  // namespace

TEST(PlyReader, EveryLayoutGivesThePointsOfItsSixNumberText)
{
    const Read expected = readText("square.xyz", sixNumberText());
    ASSERT_TRUE(expected.ok);
    ASSERT_EQ(expected.points.size(), 5u);

    // ASCII with CRLF endings, a comment that has six words, colours
    // between position and normal, a face element before the vertices.
    std::string ascii = "ply\r\nformat ascii 1.0\r\ncomment written by a scanner of ours\r\n"
                        "obj_info any text\r\nelement face 1\r\nproperty list uchar int vertex_indices\r\n"
                        "element vertex 5\r\nproperty float x\r\nproperty float y\r\nproperty float z\r\n"
                        "property uchar red\r\nproperty uchar green\r\nproperty uchar blue\r\n"
                        "property float nx\r\nproperty float ny\r\nproperty float nz\r\nend_header\r\n"
                        "3 0 1 2\r\n";
    for (const auto& p : kPoints)
        ascii += std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]) + " 200 180 160 " +
                 std::to_string(p[3]) + " " + std::to_string(p[4]) + " " + std::to_string(p[5]) + "\r\n";

    // Little-endian floats, normals first, then an edge element after.
    std::string little = "ply\nformat binary_little_endian 1.0\nelement vertex 5\nproperty float32 nx\n"
                         "property float32 ny\nproperty float32 nz\nproperty float x\nproperty float y\n"
                         "property float z\nelement edge 1\nproperty int vertex1\nproperty int vertex2\nend_header\n";
    for (const auto& p : kPoints)
        for (int i : {3, 4, 5, 0, 1, 2})
            little += bytesOf(static_cast<float>(p[i]), false);
    little += bytesOf(std::int32_t{0}, false) + bytesOf(std::int32_t{1}, false);

    // Big-endian doubles among integer properties of every width, a list
    // inside the vertex element.
    std::string big = "ply\nformat binary_big_endian 1.0\nelement vertex 5\nproperty char a\nproperty double x\n"
                      "property ushort b\nproperty float64 y\nproperty list uint8 int16 c\nproperty double z\n"
                      "property uint d\nproperty double nx\nproperty double ny\nproperty double nz\n"
                      "property int16 e\nend_header\n";
    for (const auto& p : kPoints) {
        big += bytesOf(std::int8_t{-1}, true) + bytesOf(p[0], true) + bytesOf(std::uint16_t{9}, true) +
               bytesOf(p[1], true) + bytesOf(std::uint8_t{2}, true) + bytesOf(std::int16_t{5}, true) +
               bytesOf(std::int16_t{6}, true) + bytesOf(p[2], true) + bytesOf(std::uint32_t{7}, true) +
               bytesOf(p[3], true) + bytesOf(p[4], true) + bytesOf(p[5], true) + bytesOf(std::int16_t{-8}, true);
    }

    for (const auto& [name, bytes] : {std::pair{"ascii.ply", ascii}, {"little.dat", little}, {"big.ply", big}}) {
        const Read read = readText(name, bytes);
        EXPECT_TRUE(read.ok) << name << ": " << read.report.problem;
        EXPECT_EQ(read.report.layout, PointLayout::ply) << name;
        EXPECT_TRUE(read.report.hasNormals) << name;
        EXPECT_TRUE(sameBits(read.points, expected.points)) << name;
    }
}

TEST(PlyReader, IntegerCoordinatesAndNoNormals)
{
    const Read read = readText("ints.ply", "ply\nformat ascii 1.0\nelement vertex 2\nproperty int x\n"
                                           "property short y\nproperty uchar z\nend_header\n-3 7 255\n\n1 2 3\n");
    ASSERT_TRUE(read.ok) << read.report.problem;
    EXPECT_FALSE(read.report.hasNormals);
    ASSERT_EQ(read.points.size(), 2u);
    EXPECT_EQ(read.points[0].p.x, -3);
    EXPECT_EQ(read.points[0].p.z, 255);
    EXPECT_EQ(read.points[1].n.z, 0);
}

TEST(PlyReader, VerticesOutsideFiniteSpaceAreSkippedAndCounted)
{
    std::string bytes = "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty double x\n"
                        "property double y\nproperty double z\nend_header\n";
    for (double x : {1.0, HUGE_VAL, 2.0})
        bytes += bytesOf(x, false) + bytesOf(0.0, false) + bytesOf(std::nan(""), false);
    bytes.replace(bytes.size() - 8, 8, bytesOf(0.0, false));
    const Read read = readText("inf.ply", bytes);
    ASSERT_TRUE(read.ok);
    ASSERT_EQ(read.points.size(), 1u);
    EXPECT_EQ(read.points[0].p.x, 2.0);
    EXPECT_EQ(read.report.notFinite.count, 2u);
    EXPECT_EQ(read.report.notFinite.first, 0u);
}

TEST(PlyReader, OurOwnExportReadsBackToTheSameMesh)
{
    Reconstruct first;
    ASSERT_TRUE(testsupport::loadFile(first, std::string(TRI3D_SOURCE_DIR) + "/samples/sphere.xyz"));
    first.triangulate(true);
    const std::string mesh = testsupport::tempPath("sphere.ply");
    ASSERT_TRUE(writeMesh(mesh, first.surface()));

    Reconstruct second;
    LoadOptions options;
    options.normals = NormalSource::automatic;
    LoadReport report;
    LoadedPoints points;
    ASSERT_TRUE(loadPoints(mesh, options, report, points)) << report.read.problem;
    EXPECT_EQ(report.estimated, 0u);
    second.setPoints(points.positions, points.normals);
    second.triangulate(true);
    const Surface a = first.surface();
    const Surface b = second.surface();
    ASSERT_EQ(a.positions.size(), b.positions.size());
    EXPECT_EQ(std::memcmp(a.positions.data(), b.positions.data(), a.positions.size() * sizeof a.positions[0]), 0);
    EXPECT_EQ(std::memcmp(a.normals.data(), b.normals.data(), a.normals.size() * sizeof a.normals[0]), 0);
    EXPECT_EQ(a.faces, b.faces);
}

TEST(PlyReader, MalformedFilesFailWithAReason)
{
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    const std::string vertex1 = "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz;
    const std::string binary2 = "ply\nformat binary_little_endian 1.0\nelement vertex 2\n" + xyz + "end_header\n";
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"a count far beyond the body", "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\n" + xyz +
                                            "end_header\n" + std::string(36, '\1')},
        {"no end_header", vertex1 + "1 2 3\n"},
        {"a binary body cut mid-vertex", binary2 + std::string(12 + 5, '\0')},
        {"no y", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float z\nend_header\n1 2\n"},
        {"an unknown format", "ply\nformat binary_middle_endian 1.0\nelement vertex 0\nend_header\n"},
        {"an unknown version", "ply\nformat ascii 2.0\nelement vertex 0\nend_header\n"},
        {"an unknown property type", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float128 x\nend_header\n"},
        {"a negative count", "ply\nformat ascii 1.0\nelement vertex -1\n" + xyz + "end_header\n"},
        {"a count that is no number", "ply\nformat ascii 1.0\nelement vertex ten\n" + xyz + "end_header\n"},
        {"an ASCII row short of its properties", vertex1 + "end_header\n1 2\n"},
        {"an ASCII row with a word for a coordinate", vertex1 + "end_header\n1 two 3\n"},
        {"a list count past the end of its row",
         vertex1 + "element face 1\nproperty list uchar int vertex_indices\nend_header\n1 2 3\n4 0 1 2\n"},
        {"a binary list count past the end of the file",
         "ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list uint int vertex_indices\n"
         "end_header\n\xff\xff\xff\xff" +
             std::string(8, '\0')},
        {"only some of the normal", vertex1 + "property float nx\nend_header\n1 2 3 0\n"},
        {"no vertex element", "ply\nformat ascii 1.0\nend_header\n"},
    };
    for (const auto& c : cases) {
        const Read read = readText("bad.ply", c.bytes);
        EXPECT_FALSE(read.ok) << c.what;
        EXPECT_FALSE(read.report.problem.empty()) << c.what;
    }
}

// Shares of the rows, read apart and put end to end, are the whole file's
// points, for any count of shares, including more shares than rows; a
// vertex outside finite space is skipped in whichever share holds it.
TEST(PlyReaderShare, SharesPutTogetherAreTheWholeFile)
{
    std::string bytes = "ply\nformat binary_big_endian 1.0\nelement vertex 5\nproperty float x\nproperty uchar i\n"
                        "property float y\nproperty float z\nproperty float nx\nproperty float ny\n"
                        "property float nz\nend_header\n";
    for (const auto& p : kPoints) {
        bytes += bytesOf(static_cast<float>(p[0]), true) + bytesOf(std::uint8_t{3}, true);
        for (int i = 1; i < 6; ++i)
            bytes += bytesOf(static_cast<float>(i == 2 && p[0] == 1 && p[1] == 1 ? HUGE_VAL : p[i]), true);
    }
    const Read whole = readText("shared.ply", bytes);
    ASSERT_TRUE(whole.ok) << whole.report.problem;
    ASSERT_EQ(whole.points.size(), 4u);
    const std::string file = writeTempFile("share.ply", bytes);
    for (std::uint64_t shares : {1u, 2u, 3u, 7u}) {
        std::vector<Point> joined;
        std::uint64_t nextRow = 0;
        for (std::uint64_t share = 0; share < shares; ++share) {
            PointReadReport report;
            bool split = false;
            std::uint64_t firstRow = 99;
            ASSERT_TRUE(readPlyShare(
                file, share, shares,
                [&joined](const CGVertex& p, const CGVector& n) {
                    joined.push_back({p, n});
                },
                report, split, firstRow))
                << report.problem;
            EXPECT_TRUE(split);
            EXPECT_EQ(firstRow, nextRow) << share << " of " << shares;
            nextRow = firstRow + (5 * (share + 1) / shares - 5 * share / shares);
        }
        EXPECT_TRUE(sameBits(joined, whole.points)) << shares << " shares";
    }
}

// What cannot be cut by rows is left to one reader: text, a second
// element, no normals, rows that hold a list, a file cut short.
TEST(PlyReaderShare, OnlyWholeBinaryVertexRowsWithNormalsSplit)
{
    const std::string head = "ply\nformat binary_little_endian 1.0\nelement vertex 1\n";
    const std::string xyz = "property double x\nproperty double y\nproperty double z\n";
    const std::string normals = "property double nx\nproperty double ny\nproperty double nz\n";
    std::string row;
    for (int i = 0; i < 6; ++i)
        row += bytesOf(0.5, false);
    const std::pair<const char*, std::string> cases[] = {
        {"ascii.ply", "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + normals + "end_header\n0 0 0 0 0 1\n"},
        {"faces.ply", head + xyz + normals + "element face 0\nproperty list uchar int v\nend_header\n" + row},
        {"bare.ply", head + xyz + "end_header\n" + row.substr(0, 24)},
        {"list.ply", head + xyz + normals + "property list uchar int v\nend_header\n" + row + std::string(1, '\0')},
        {"short.ply", head + xyz + normals + "end_header\n" + row.substr(0, 40)},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string file = writeTempFile(name, bytes);
        PointReadReport report;
        bool split = true;
        std::uint64_t firstRow = 0;
        std::size_t taken = 0;
        EXPECT_TRUE(readPlyShare(
            file, 0, 2, [&taken](const CGVertex&, const CGVector&) { ++taken; }, report, split, firstRow))
            << name << ": " << report.problem;
        EXPECT_FALSE(split) << name;
        EXPECT_EQ(taken, 0u) << name;
    }
}
