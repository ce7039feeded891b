#include "io/GzipInput.h"
#include "fuzz/GzipBytes.h"
#include "fuzz/PointReading.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testsupport::writeTempFile;

namespace {

// text as one gzip member, as gzip writes it.
std::string gzipped(const std::string& text)
{
    std::string out = ::gzipped(text, 9);
    EXPECT_FALSE(out.empty());
    return out;
}

void expectSameRead(const PointReading& plain, const PointReading& packed)
{
    ASSERT_TRUE(packed.ok) << packed.report.problem;
    EXPECT_EQ(packed.report.layout, plain.report.layout);
    EXPECT_EQ(packed.report.hasNormals, plain.report.hasNormals);
    ASSERT_EQ(packed.positions.size(), plain.positions.size());
    for (std::size_t i = 0; i < plain.positions.size(); ++i) {
        EXPECT_EQ(std::memcmp(&packed.positions[i], &plain.positions[i], sizeof(CGVertex)), 0) << i;
        EXPECT_EQ(std::memcmp(&packed.normals[i], &plain.normals[i], sizeof(CGVector)), 0) << i;
    }
}

}  // namespace

TEST(GzipInput, EveryLayoutReadsAsItsUncompressedSelf)
{
    // Longer than one read of the inner stream, so the stream is refilled.
    std::string text = "# x y z nx ny nz\n";
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(i) + ".5 " + std::to_string(i % 7) + " -3e-2 0 0 1\n";
    const std::string ply = "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
                            "property float z\nend_header\n1 2 3\n4 5 6\n";
    const std::string pcd = "FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nWIDTH 1\nDATA ascii\n1 2 3\n";
    for (const std::string& plain : {text, ply, pcd}) {
        const PointReading expected = readPointsAt(writeTempFile("plain", plain));
        ASSERT_TRUE(expected.ok && !expected.positions.empty());
        // Whatever the name; two members read as one file.
        expectSameRead(expected, readPointsAt(writeTempFile("points.txt", gzipped(plain))));
        const std::size_t half = plain.find('\n', plain.size() / 2) + 1;
        expectSameRead(expected, readPointsAt(writeTempFile("two.gz", gzipped(plain.substr(0, half)) +
                                                                          gzipped(plain.substr(half)))));
    }
}

TEST(GzipInput, CutOrCorruptStreamsFailWithTheirReason)
{
    const std::string packed = gzipped("1 2 3 0 0 1\n4 5 6 0 0 1\n7 8 9 0 0 1\n");
    const PointReading cut = readPointsAt(writeTempFile("cut.gz", packed.substr(0, packed.size() - 6)));
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(cut.report.problem.find("cut short"), std::string::npos) << cut.report.problem;

    // The last eight bytes hold the checksum and the length.
    std::string wrongSum = packed;
    wrongSum[wrongSum.size() - 8] ^= 1;
    const PointReading corrupt = readPointsAt(writeTempFile("sum.gz", wrongSum));
    EXPECT_FALSE(corrupt.ok);
    EXPECT_EQ(corrupt.report.problem, "the gzip data is corrupt: incorrect data check");

    const PointReading garbage = readPointsAt(writeTempFile("garbage.gz", std::string("\x1f\x8b\x08\x00garbage", 11)));
    EXPECT_FALSE(garbage.ok);
    EXPECT_NE(garbage.report.problem.find("gzip data"), std::string::npos) << garbage.report.problem;
}
