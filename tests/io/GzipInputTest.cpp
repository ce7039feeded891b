#include "io/GzipInput.h"
#include "io/PointInput.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

using testsupport::writeTempFile;

namespace {

struct Read {
    bool ok = false;
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    PointReadReport report;
};

Read readFile(const std::string& path)
{
    Read result;
    result.ok = readPoints(
        path,
        [&result](const CGVertex& p, const CGVector& n) {
            result.positions.push_back(p);
            result.normals.push_back(n);
        },
        true, result.report);
    return result;
}

// text as one gzip member, as gzip writes it.
std::string gzipped(const std::string& text)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

void expectSameRead(const Read& plain, const Read& packed)
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
        const Read expected = readFile(writeTempFile("plain", plain));
        ASSERT_TRUE(expected.ok && !expected.positions.empty());
        // Whatever the name; two members read as one file.
        expectSameRead(expected, readFile(writeTempFile("points.txt", gzipped(plain))));
        const std::size_t half = plain.find('\n', plain.size() / 2) + 1;
        expectSameRead(expected,
                       readFile(writeTempFile("two.gz", gzipped(plain.substr(0, half)) + gzipped(plain.substr(half)))));
    }
}

TEST(GzipInput, CutOrCorruptStreamsFailWithTheirReason)
{
    const std::string packed = gzipped("1 2 3 0 0 1\n4 5 6 0 0 1\n7 8 9 0 0 1\n");
    const Read cut = readFile(writeTempFile("cut.gz", packed.substr(0, packed.size() - 6)));
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(cut.report.problem.find("cut short"), std::string::npos) << cut.report.problem;

    // The last eight bytes hold the checksum and the length.
    std::string wrongSum = packed;
    wrongSum[wrongSum.size() - 8] ^= 1;
    const Read corrupt = readFile(writeTempFile("sum.gz", wrongSum));
    EXPECT_FALSE(corrupt.ok);
    EXPECT_EQ(corrupt.report.problem, "the gzip data is corrupt: incorrect data check");

    const Read garbage = readFile(writeTempFile("garbage.gz", std::string("\x1f\x8b\x08\x00garbage", 11)));
    EXPECT_FALSE(garbage.ok);
    EXPECT_NE(garbage.report.problem.find("gzip data"), std::string::npos) << garbage.report.problem;
}
