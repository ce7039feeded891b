#include "io/PcdReader.h"
#include "fuzz/PointReading.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <lzf.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using testsupport::writeTempFile;

namespace {

PointReading readBytes(const std::string& bytes)
{
    return readPointsAt(writeTempFile("cloud.pcd", bytes));
}

template <typename T>
std::string raw(T value)
{
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

std::string header(const std::string& fields, const std::string& size, const std::string& type,
                   const std::string& count, const std::string& data, int width, int height = 1)
{
    return "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS " + fields + "\nSIZE " + size + "\nTYPE " +
           type + "\nCOUNT " + count + "\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
           "\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " + std::to_string(width * height) + "\nDATA " + data + "\n";
}

// The fields of a scanner's organised cloud, in a writer's own order: a
// colour first, padding, a three-item descriptor, and the normal apart
// from the position. Two points; the second is a pixel without a point.
const char* kFields = "rgb z _ x y normal_z hist normal_x normal_y curvature";
const char* kSizes = "4 8 1 4 2 4 4 4 4 4";
const char* kTypes = "U F U F I F F F F F";
const char* kCounts = "1 1 1 1 1 1 3 1 1 1";

std::string binaryRow(float x, std::int16_t y, double z)
{
    return raw<std::uint32_t>(0xff8000) + raw(z) + std::string(1, '\0') + raw(x) + raw(y) + raw(1.0f) + raw(0.5f) +
           raw(0.5f) + raw(0.5f) + raw(0.0f) + raw(0.25f) + raw(0.003f);
}

void expectTwoPointCloud(const PointReading& read)
{
    ASSERT_TRUE(read.ok) << read.report.problem;
    EXPECT_EQ(read.report.layout, PointLayout::pcd);
    EXPECT_TRUE(read.report.hasNormals);
    ASSERT_EQ(read.positions.size(), 1u);
    EXPECT_EQ(read.positions[0].x, 0.375);
    EXPECT_EQ(read.positions[0].y, -7);
    EXPECT_EQ(read.positions[0].z, 0.1);
    EXPECT_EQ(read.normals[0].x, 0);
    EXPECT_EQ(read.normals[0].y, 0.25);
    EXPECT_EQ(read.normals[0].z, 1);
    EXPECT_EQ(read.report.notFinite.count, 1u);
    EXPECT_EQ(read.report.notFinite.first, 1u);
}

}  // namespace

TEST(PcdReader, EveryDataKindReadsTheSameCloud)
{
    const std::string ascii = header(kFields, kSizes, kTypes, kCounts, "ascii", 2, 1) +
                              "16744448 0.1 0 0.375 -7 1 0.5 0.5 0.5 0 0.25 0.003\n"
                              "0 nan 0 nan 0 0 0 0 0 0 0 0\n";
    expectTwoPointCloud(readBytes(ascii));

    const float nan = std::nanf("");
    const std::string rows = binaryRow(0.375f, -7, 0.1) + binaryRow(nan, 0, nan);
    expectTwoPointCloud(readBytes(header(kFields, kSizes, kTypes, kCounts, "binary", 1, 2) + rows));

    // Compressed, each field's values lie together: field by field, point
    // by point within a field.
    const std::size_t rowSize = rows.size() / 2;
    std::string columns;
    std::size_t offset = 0;
    for (int width : {4, 8, 1, 4, 2, 4, 12, 4, 4, 4}) {
        for (int point = 0; point < 2; ++point)
            columns += rows.substr(point * rowSize + offset, static_cast<std::size_t>(width));
        offset += static_cast<std::size_t>(width);
    }
    std::string packed(columns.size() * 2 + 16, '\0');
    const unsigned packedSize = lzf_compress(columns.data(), static_cast<unsigned>(columns.size()), packed.data(),
                                             static_cast<unsigned>(packed.size()));
    ASSERT_GT(packedSize, 0u);
    expectTwoPointCloud(
        readBytes(header(kFields, kSizes, kTypes, kCounts, "binary_compressed", 2) + raw<std::uint32_t>(packedSize) +
                  raw<std::uint32_t>(static_cast<std::uint32_t>(columns.size())) + packed.substr(0, packedSize)));
}

TEST(PcdReader, WithoutNormalFieldsThePointsHaveNone)
{
    const PointReading read = readBytes("VERSION .7\nFIELDS x y z intensity\nSIZE 4 4 4 4\nTYPE F F F F\nWIDTH 1\n"
                                        "HEIGHT 1\nPOINTS 1\nDATA ascii\n1 2 3 9\n");
    ASSERT_TRUE(read.ok) << read.report.problem;
    EXPECT_FALSE(read.report.hasNormals);
    ASSERT_EQ(read.positions.size(), 1u);
    EXPECT_EQ(read.positions[0].z, 3);
    EXPECT_EQ(read.normals[0].x, 0);
}

TEST(PcdReader, MalformedFilesFailWithTheirReason)
{
    const std::string xyz = "FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\n";
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {xyz + "WIDTH 2\nHEIGHT 1\nPOINTS 2\nDATA ascii\n1 2 3\n", "ends after 1 of 2 points"},
        {xyz + "WIDTH 1\nHEIGHT 1\nPOINTS 1\nDATA ascii\n1 2 3 4\n", "has 4 values where the header gives 3"},
        {xyz + "WIDTH 1\nHEIGHT 1\nPOINTS 1\nDATA ascii\n1 2 3\n4 5 6\n", "more than the 1 points"},
        {xyz + "WIDTH 1\nHEIGHT 1\nPOINTS 1\nDATA ascii\n1 2 3,5\n", "\"3,5\", which is no number"},
        {xyz + "WIDTH 2\nHEIGHT 2\nPOINTS 3\nDATA binary\n", "WIDTH x HEIGHT (2 x 2) disagrees with its POINTS (3)"},
        {xyz + "WIDTH 2\nHEIGHT 1\nDATA binary\n" + std::string(12, '\0'), "ends after 1 of 2 points"},
        {"FIELDS x y z\nSIZE 4 4 4\nTYPE F F D\nWIDTH 1\nDATA ascii\n", "unknown type D"},
        {"FIELDS x y z\nSIZE 4 4 2\nTYPE F F F\nWIDTH 1\nDATA ascii\n", "unknown type F2"},
        {"FIELDS x y z\nSIZE 4 4\nTYPE F F F\nWIDTH 1\nDATA ascii\n", "SIZE line gives 2 entries for 3 fields"},
        {xyz + "WIDTH 1\nDATA binary_lzma\n", "DATA kind \"binary_lzma\" is none of"},
        {"FIELDS x y rgb\nSIZE 4 4 4\nTYPE F F F\nWIDTH 1\nDATA ascii\n", "no x, y and z fields"},
        {xyz + "WIDTH 1\nPOINTS 1\n", "ends before its DATA line"},
        // The sizes promise 4 MB of compressed data that is not there.
        {xyz + "WIDTH 1\nDATA binary_compressed\n" + raw<std::uint32_t>(4000000) + raw<std::uint32_t>(12) + "abc",
         "cut short"},
        {xyz + "WIDTH 1000000\nDATA binary_compressed\n" + raw<std::uint32_t>(10) + raw<std::uint32_t>(12000000) +
             std::string(10, '\0'),
         "(10 bytes) cannot unpack to 12000000 bytes"},
        {xyz + "WIDTH 1\nDATA binary_compressed\n" + raw<std::uint32_t>(4) + raw<std::uint32_t>(8) + "abcd",
         "unpacks to 8 bytes, but 1 points take 12"},
        // A back-reference before the start of the output.
        {xyz + "WIDTH 1\nDATA binary_compressed\n" + raw<std::uint32_t>(2) + raw<std::uint32_t>(12) + "\x20\x10",
         "compressed data is corrupt"},
    };
    for (const auto& c : cases) {
        const PointReading read = readBytes(c.bytes);
        EXPECT_FALSE(read.ok) << c.bytes;
        EXPECT_NE(read.report.problem.find(c.reason), std::string::npos) << read.report.problem << "\n" << c.bytes;
    }
}

TEST(PcdReader, RecognisedByItsFirstLine)
{
    EXPECT_TRUE(startsLikePcd("# .PCD v0.7 - Point Cloud Data file format\n"));
    EXPECT_TRUE(startsLikePcd("VERSION 0.7\n"));
    EXPECT_TRUE(startsLikePcd("FIELDS x y z\n"));
    EXPECT_FALSE(startsLikePcd("# x y z nx ny nz\n"));
    EXPECT_FALSE(startsLikePcd("VERSIONS\n"));
}
