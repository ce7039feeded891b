#include "io/PointFileReader.h"
#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>
#include <string>
#include <vector>

using testsupport::writeTempFile;

namespace {

struct Parsed {
    bool ok;
    CGVertex p;
    CGVector n;
};

Parsed parse(const std::string& line)
{
    Parsed result{};
    result.ok = parseLine(line, result.p, result.n);
    return result;
}

void expectPoint(const Parsed& r, CGVertex p, CGVector n)
{
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.p.x, p.x);
    EXPECT_EQ(r.p.y, p.y);
    EXPECT_EQ(r.p.z, p.z);
    EXPECT_EQ(r.n.x, n.x);
    EXPECT_EQ(r.n.y, n.y);
    EXPECT_EQ(r.n.z, n.z);
}

std::vector<CGVertex> loadPositions(const std::string& text)
{
    Reconstruct r;
    EXPECT_TRUE(r.loadNodes(writeTempFile("points.xyz", text)));
    std::vector<CGVertex> positions;
    for (const ReconNode* node : r.nodes)
        positions.push_back(node->position);
    return positions;
}

}  // namespace

TEST(ParseLine, SixNumbersMakeAPoint)
{
    expectPoint(parse("1 2 3 0 0 1\n"), {1, 2, 3}, {0, 0, 1});
    // The seventh and later numbers are ignored.
    expectPoint(parse("1 2 3 0 0 1 9 9\n"), {1, 2, 3}, {0, 0, 1});
    // Runs of spaces count as one separator.
    expectPoint(parse("   1  2 3    0 0 1   \n"), {1, 2, 3}, {0, 0, 1});
}

TEST(ParseLine, FewerThanSixNumbersAreNoPoint)
{
    EXPECT_FALSE(parse("1 2 3 4 5\n").ok);
    EXPECT_FALSE(parse("\n").ok);
    EXPECT_FALSE(parse("").ok);
    // The token after the last separator is never converted.
    EXPECT_FALSE(parse("1 2 3 4 5 6").ok);
}

TEST(ParseLine, TabDoesNotSeparateNumbers)
{
    // "1\t2" is one token that reads as 1; the rest shift left.
    expectPoint(parse("1\t2 3 4 5 6 7\n"), {1, 3, 4}, {5, 6, 7});
}

TEST(ParseLine, OnlyTheFirstTwoColumnsMakeAComment)
{
    EXPECT_FALSE(parse("// 1 2 3 4 5 6\n").ok);
    // After leading spaces, "//" is an ordinary token that reads as 0.
    expectPoint(parse("  // 1 2 3 4 5\n"), {0, 1, 2}, {3, 4, 5});
}

TEST(ParseLine, TokensReadTheirLongestNumericPrefix)
{
    expectPoint(parse("1.5xyz -2e1 +.25 a b c\n"), {1.5, -20, 0.25}, {0, 0, 0});
    expectPoint(parse("0x10 1e-3 -0 0 0 0\n"), {16, 0.001, 0}, {0, 0, 0});
}

TEST(ParseLine, PositionMustBeFiniteButNormalNeedNot)
{
    EXPECT_FALSE(parse("nan 0 0 0 0 1\n").ok);
    EXPECT_FALSE(parse("0 inf 0 0 0 1\n").ok);
    EXPECT_FALSE(parse("0 0 1e400 0 0 1\n").ok);
    const Parsed r = parse("0 0 0 nan inf 1e400\n");
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(std::isnan(r.n.x));
    EXPECT_TRUE(std::isinf(r.n.y));
    EXPECT_TRUE(std::isinf(r.n.z));
}

TEST(ParseLine, ZeroByteEndsTheLine)
{
    // As with a C string, what follows the zero byte is not read, so the
    // sixth token is left without a separator.
    EXPECT_FALSE(parse(std::string("1 2 3 4 5 6\0 7\n", 15)).ok);
    expectPoint(parse(std::string("1 2 3 4 5 6 \0x\n", 15)), {1, 2, 3}, {4, 5, 6});
}

TEST(ParseLine, TokenOfAnyLengthIsConverted)
{
    const std::string longToken = "1." + std::string(10000, '5');
    const Parsed r = parse(longToken + " 2 3 4 5 6\n");
    ASSERT_TRUE(r.ok);
    EXPECT_DOUBLE_EQ(r.p.x, 1.5555555555555556);
}

TEST(LoadNodes, ReadsPointsInFileOrderKeepingDuplicates)
{
    const auto positions = loadPositions("// header\n1 2 3 0 0 1\n\n1 2 3 0 0 1\n4 5 6 0 0 1\n1 2 3\n");
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_EQ(positions[0].x, 1);
    EXPECT_EQ(positions[1].x, 1);
    EXPECT_EQ(positions[2].x, 4);
}

TEST(LoadNodes, CarriageReturnBeforeLineFeedIsDropped)
{
    // Were the carriage return kept, it would be a sixth token.
    EXPECT_EQ(loadPositions("1 2 3 4 5 \r\n").size(), 0u);
    EXPECT_EQ(loadPositions("1 2 3 4 5 6\r\n7 8 9 0 0 1\r\n").size(), 2u);
    EXPECT_EQ(loadPositions("\r\n\r\n").size(), 0u);
}

TEST(LoadNodes, LastLineWithoutLineFeedIsRead)
{
    const auto positions = loadPositions("1 2 3 0 0 1\n4 5 6 0 0 1");
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[1].z, 6);
}

TEST(LoadNodes, LongLinesStayWhole)
{
    // A long comment must never turn its tail into a point.
    const std::string comment = "//" + std::string(5000, ' ') + "1 2 3 4 5 6\n";
    // A point line longer than any fixed buffer still reads as one point.
    const std::string padded = "1 2 3 4 5 6" + std::string(5000, ' ') + "\n";
    const auto positions = loadPositions(comment + padded);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].x, 1);
}

TEST(LoadNodes, EmptyOrCommentOnlyFilesLoadNothing)
{
    EXPECT_EQ(loadPositions("").size(), 0u);
    EXPECT_EQ(loadPositions("// a\n// b\n").size(), 0u);
}

TEST(LoadNodes, FailureKeepsWhatWasLoaded)
{
    Reconstruct r;
    ASSERT_TRUE(r.loadNodes(writeTempFile("one.xyz", "1 2 3 0 0 1\n")));
    EXPECT_FALSE(r.loadNodes(testsupport::tempPath("does-not-exist.xyz")));
    // A directory opens but cannot be read as a file; a device never ends.
    EXPECT_FALSE(r.loadNodes(testing::TempDir()));
    EXPECT_FALSE(r.loadNodes("/dev/zero"));
    ASSERT_EQ(r.nodes.size(), 1u);
    EXPECT_EQ(r.nodes[0]->position.y, 2);
}

TEST(LoadNodes, ReloadingReplacesNodesAndRenumbersThem)
{
    Reconstruct r;
    ASSERT_TRUE(r.loadNodes(writeTempFile("a.xyz", "1 1 1 0 0 1\n2 2 2 0 0 1\n")));
    ASSERT_TRUE(r.loadNodes(writeTempFile("b.xyz", "3 3 3 0 0 1\n")));
    ASSERT_EQ(r.nodes.size(), 1u);
    EXPECT_EQ(r.nodes[0]->position.x, 3);
    EXPECT_EQ(r.nodes[0]->index, 0u);
}

TEST(LoadNodes, PipeIsReadUntilItsWriterCloses)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string text = "1 2 3 0 0 1\n4 5 6 0 0 1\n";
    ASSERT_EQ(::write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(ends[1]);
    Reconstruct r;
    EXPECT_TRUE(r.loadNodes("/dev/fd/" + std::to_string(ends[0])));
    ::close(ends[0]);
    EXPECT_EQ(r.nodes.size(), 2u);
}
