#include "io/PointFileReader.h"

#include "app/PointLoading.h"
#include "io/PointInput.h"
#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using testsupport::loadFile;
using testsupport::threadsRunning;
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
    EXPECT_TRUE(loadFile(r, writeTempFile("points.xyz", text)));
    std::vector<CGVertex> positions;
    for (const ReconNode* node : r.nodes)
        positions.push_back(node->position);
    return positions;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The reader's conversions against strtod on the same text, bit for bit;
// false when the fast path took the token, so callers can see it is used.
::testing::AssertionResult readsAsStrtod(const std::string& token, bool& fastTaken)
{
    const double expected = std::strtod(token.c_str(), nullptr);
    double fast = 0;
    fastTaken = fastTokenValue(token, fast);
    if (fastTaken && !sameBits(fast, expected))
        return ::testing::AssertionFailure() << "fast path on \"" << token << "\"";
    if (!sameBits(tokenValue(token), expected))
        return ::testing::AssertionFailure() << "tokenValue on \"" << token << "\"";
    return ::testing::AssertionSuccess();
}

std::string printed(const char* format, double value)
{
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

TEST(TokenValue, TrickyTokensReadAsStrtodReadsThem)
{
    // Each is a place where from_chars and strtod part ways, or where a
    // correctly rounded result is easy to miss.
    const std::vector<std::string> tokens = {"0",
                                             "-0",
                                             "+0",
                                             "+1",
                                             "+.5",
                                             "1",
                                             "-7.733206",
                                             "0.153741",
                                             "\t1",
                                             "\t-2.5",
                                             "\v3",
                                             "\f4",
                                             "\r5",
                                             "1\t2",
                                             "1\r",
                                             "5.",
                                             "-5.",
                                             ".5",
                                             "-.5",
                                             ".",
                                             "-",
                                             "+",
                                             "-.",
                                             "..5",
                                             "1..5",
                                             "1.2.3",
                                             "--1",
                                             "e5",
                                             ".e5",
                                             "1e",
                                             "1e+",
                                             "1e-",
                                             "1E5",
                                             "1e+5",
                                             "1e-5",
                                             "1e05",
                                             "1e00005",
                                             "1e+0400",
                                             "1e400",
                                             "-1e400",
                                             "1e-400",
                                             "-1e-400",
                                             "1e-320",
                                             "4.9e-324",
                                             "5e-324",
                                             "2.4703282292062327e-324",
                                             "2.4703282292062328e-324",
                                             "2.2250738585072011e-308",
                                             "2.2250738585072014e-308",
                                             "1.7976931348623157e308",
                                             "1.7976931348623158e308",
                                             "1.7976931348623159e308",
                                             "9007199254740993",
                                             "9007199254740993.0000000001",
                                             "1234567890123456789",
                                             "12345678901234567890",
                                             "0.1234567890123456789",
                                             "00000000000000000001",
                                             "0000000000000000000.1",
                                             "0x1p3",
                                             "0X1P-3",
                                             "0x",
                                             "0x.8",
                                             "-0x10",
                                             "inf",
                                             "-inf",
                                             "+inf",
                                             "INF",
                                             "Infinity",
                                             "infinit",
                                             "nan",
                                             "-nan",
                                             "NAN",
                                             "nan(123)",
                                             "nan(",
                                             "1.5xyz",
                                             "1,5",
                                             "1_000",
                                             "0e0",
                                             "0e99999",
                                             "-0e-99999",
                                             "1e0000000000000000000001",
                                             std::string(400, '9'),
                                             "1." + std::string(30, '0') + "1",
                                             "0." + std::string(400, '0') + "1e400"};
    int fast = 0;
    for (const std::string& token : tokens) {
        bool taken = false;
        EXPECT_TRUE(readsAsStrtod(token, taken));
        fast += taken;
    }
    // Typical tokens must take the fast path, or this test checks nothing.
    EXPECT_GT(fast, 10);
}

TEST(TokenValue, RandomTokensReadAsStrtodReadsThem)
{
    std::mt19937_64 random(2024);
    const char* const formats[] = {"%.6f", "%.17g", "%.25e", "%.3e", "%a", "%g"};
    const std::string alphabet = "0123456789.-+eExXpinfaN\t\r";
    int total = 0;
    int fast = 0;
    auto check = [&](const std::string& token) {
        bool taken = false;
        EXPECT_TRUE(readsAsStrtod(token, taken));
        ++total;
        fast += taken;
    };
    for (int i = 0; i < 20000; ++i) {
        // Any double at all, subnormals, infinities and NaNs included.
        std::uint64_t bits = random();
        if (i % 4 == 0)
            bits &= 0x800fffffffffffffULL;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        for (const char* format : formats)
            check(printed(format, value));

        // Decimals that sit just beside a halfway point between two
        // doubles, cut to 16 to 19 digits: the hardest to round.
        const double a = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 600) - 300);
        const long double half = (static_cast<long double>(a) + std::nextafter(a, HUGE_VAL)) / 2;
        char text[64];
        std::snprintf(text, sizeof text, "%.*Le", 15 + static_cast<int>(random() % 4), half);
        check(text);

        // Digits, a point and an exponent in random amounts.
        std::string token = i % 3 == 0 ? "-" : i % 7 == 0 ? "+" : "";
        const int digits = 1 + static_cast<int>(random() % 24);
        const int point = static_cast<int>(random() % (digits + 2));
        for (int d = 0; d < digits; ++d) {
            if (d == point)
                token += '.';
            token += static_cast<char>('0' + random() % 10);
        }
        if (random() % 2)
            token += "e" + std::to_string(static_cast<int>(random() % 800) - 400);
        check(token);

        // Short runs of number characters in any order.
        std::string junk;
        for (int k = 1 + static_cast<int>(random() % 8); k > 0; --k)
            junk += alphabet[random() % alphabet.size()];
        check(junk);
    }
    EXPECT_GT(fast, total / 4);
}

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

TEST(LoadNodes, LinesCutByTheReadBufferReadWhole)
{
    // Lines of uneven lengths, half of them ending in "\r\n", then a line
    // longer than a read and a last line without a line feed. The leading
    // comment shifts where reads end, so that over the shifts a read ends
    // at every place in a line, between a carriage return and its line
    // feed too.
    std::string body;
    std::vector<double> expected;
    auto addPoint = [&](int i, const std::string& padding, const char* ending) {
        body += std::to_string(i) + " 0.5 -" + std::to_string(i) + " 0 0 1" + padding + ending;
        expected.push_back(i);
    };
    for (int i = 0; body.size() < 140000; ++i) {
        addPoint(i, std::string(i % 23, ' '), i % 2 ? "\r\n" : "\n");
        // Five numbers: a carriage return kept by mistake would be a sixth.
        body += "7 7 7 7 7" + std::string(i % 5, ' ') + " \r\n";
    }
    addPoint(100000, std::string(150000, ' '), "\r\n");
    addPoint(100001, "", "");
    for (std::size_t shift = 0; shift < 60; ++shift) {
        const auto positions = loadPositions("//" + std::string(shift, '-') + "\n" + body);
        ASSERT_EQ(positions.size(), expected.size()) << "shift " << shift;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            ASSERT_EQ(positions[i].x, expected[i]) << "shift " << shift << ", line " << i;
            ASSERT_EQ(positions[i].y, 0.5) << "shift " << shift << ", line " << i;
            ASSERT_EQ(positions[i].z, -expected[i]) << "shift " << shift << ", line " << i;
        }
    }
}

TEST(LoadNodes, EmptyOrCommentOnlyFilesLoadNothing)
{
    EXPECT_EQ(loadPositions("").size(), 0u);
    EXPECT_EQ(loadPositions("// a\n// b\n").size(), 0u);
}

TEST(LoadNodes, FailureKeepsWhatWasLoaded)
{
    LoadedPoints points;
    LoadReport report;
    ASSERT_TRUE(loadPoints(writeTempFile("one.xyz", "1 2 3 0 0 1\n"), LoadOptions(), report, points));
    EXPECT_FALSE(loadPoints(testsupport::tempPath("does-not-exist.xyz"), LoadOptions(), report, points));
    // A directory opens but cannot be read as a file; a device never ends.
    EXPECT_FALSE(loadPoints(testing::TempDir(), LoadOptions(), report, points));
    EXPECT_FALSE(loadPoints("/dev/zero", LoadOptions(), report, points));
    ASSERT_EQ(points.positions.size(), 1u);
    EXPECT_EQ(points.positions[0].y, 2);
}

TEST(LoadNodes, ReloadingReplacesNodesAndRenumbersThem)
{
    Reconstruct r;
    ASSERT_TRUE(loadFile(r, writeTempFile("a.xyz", "1 1 1 0 0 1\n2 2 2 0 0 1\n")));
    ASSERT_TRUE(loadFile(r, writeTempFile("b.xyz", "3 3 3 0 0 1\n")));
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
    EXPECT_TRUE(loadFile(r, "/dev/fd/" + std::to_string(ends[0])));
    ::close(ends[0]);
    EXPECT_EQ(r.nodes.size(), 2u);
}

namespace {

struct TextRead {
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    PointReadReport report;
};

TextRead readWithReport(const std::string& text, bool threeNumbersAllowed)
{
    TextRead result;
    const std::string file = writeTempFile("report.xyz", text);
    EXPECT_TRUE(readPoints(
        file,
        [&result](const CGVertex& p, const CGVector& n) {
            result.positions.push_back(p);
            result.normals.push_back(n);
        },
        threeNumbersAllowed, result.report));
    return result;
}

// The same, with the text parsed on two threads from the first byte on.
TextRead readSplit(const std::string& text, bool threeNumbersAllowed)
{
    TextRead result;
    const std::string file = writeTempFile("split.xyz", text);
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    EXPECT_TRUE(readPointStream(
        stream, {},
        [&result](const CGVertex& p, const CGVector& n) {
            result.positions.push_back(p);
            result.normals.push_back(n);
        },
        threeNumbersAllowed, result.report, nullptr, 1));
    std::fclose(stream);
    return result;
}

}  // namespace

TEST(SkippedLines, CountedByReasonWithTheFirstLineNumber)
{
    // Comments and empty lines are meant to be passed over: not counted.
    // A three-number line among six-number ones is not the x y z layout.
    const TextRead read = readWithReport("// header\n\n1 2 3\n1 2 3 0 0 1\nnan 0 0 0 0 1\n1,2,3,0,0,1\n"
                                         "1 2 3 4 5\n0 inf 0 0 0 1\r\n",
                                         true);
    EXPECT_EQ(read.positions.size(), 1u);
    EXPECT_EQ(read.report.layout, PointLayout::sixNumbers);
    EXPECT_EQ(read.report.fewerThanSix.count, 3u);
    EXPECT_EQ(read.report.fewerThanSix.first, 3u);
    EXPECT_EQ(read.report.notFinite.count, 2u);
    EXPECT_EQ(read.report.notFinite.first, 5u);
    EXPECT_EQ(read.report.notThreeNumbers.count, 0u);
}

TEST(ThreeNumberLayout, TakenOnlyWhenNoLineHasSixNumbers)
{
    // A header of words, a line of five numbers, a tab-separated line and
    // a number with trailing text are no points of the layout; the rest
    // are, in file order, with zero normals.
    const std::string text = "x y z\n1 2 3\n// note\n4 5 6 7 8\n1\t2\t3\n7 8 9\n1 2 3abc\ninf 1 2\n-1e-3 0x10 5\n";
    const TextRead read = readWithReport(text, true);
    EXPECT_EQ(read.report.layout, PointLayout::threeNumbers);
    EXPECT_FALSE(read.report.hasNormals);
    ASSERT_EQ(read.positions.size(), 3u);
    EXPECT_EQ(read.positions[1].x, 7);
    EXPECT_EQ(read.positions[2].x, -1e-3);
    EXPECT_EQ(read.positions[2].y, 16);
    EXPECT_EQ(read.normals[2].z, 0);
    EXPECT_EQ(read.report.notThreeNumbers.count, 4u);
    EXPECT_EQ(read.report.notThreeNumbers.first, 1u);
    EXPECT_EQ(read.report.notFinite.count, 1u);
    EXPECT_EQ(read.report.notFinite.first, 8u);
    EXPECT_EQ(read.report.fewerThanSix.count, 0u);

    // Without the layout, as the plain reader: every such line is skipped.
    const TextRead plain = readWithReport(text, false);
    EXPECT_EQ(plain.positions.size(), 0u);
    EXPECT_EQ(plain.report.layout, PointLayout::sixNumbers);
    EXPECT_EQ(plain.report.fewerThanSix.count, 8u);

    // One line of six numbers, even at the very end, and it is the plain
    // reader's file.
    const TextRead six = readWithReport(text + "1 2 3 0 0 1", true);
    EXPECT_EQ(six.report.layout, PointLayout::sixNumbers);
    EXPECT_EQ(six.positions.size(), 1u);
}

TEST(SplitParse, TwoThreadsReadAsOne)
{
    // Skips of some kinds on both sides of the split, of others only after
    // it, so their first line numbers must be carried over; in the second
    // text the only six-number line comes late and decides the layout.
    std::string head;
    for (int i = 0; i < 40; ++i)
        head += i % 7 == 3 ? "1 2\n" : i % 13 == 4 ? "1 2 x\n" : "1 2 " + std::to_string(i) + "\n";
    std::string tail;
    for (int i = 0; i < 40; ++i)
        tail += i == 32 || i == 37 ? "nan 0 0 0 0 1\n"
                : i == 35          ? "inf 1 2\n"
                : i % 9 == 1       ? "1 2 3 4\r\n"
                                   : "3 4 " + std::to_string(i) + "\n";
    for (const std::string& text : {head + tail, head + tail + "5 6 7 0 0 1\n1 2 3", head + head + "nan 1 2 3 4 5"}) {
        for (bool threeNumbersAllowed : {false, true}) {
            const TextRead one = readWithReport(text, threeNumbersAllowed);
            const TextRead two = readSplit(text, threeNumbersAllowed);
            EXPECT_EQ(one.report.layout, two.report.layout);
            ASSERT_EQ(one.positions.size(), two.positions.size());
            for (std::size_t i = 0; i < one.positions.size(); ++i) {
                EXPECT_EQ(one.positions[i].z, two.positions[i].z);
                EXPECT_EQ(one.normals[i].z, two.normals[i].z);
            }
            for (auto reason :
                 {&PointReadReport::fewerThanSix, &PointReadReport::notThreeNumbers, &PointReadReport::notFinite}) {
                EXPECT_EQ((one.report.*reason).count, (two.report.*reason).count);
                EXPECT_EQ((one.report.*reason).first, (two.report.*reason).first);
            }
        }
    }
}

// A file large enough to be parsed on two threads is read on one when one
// is all it is given, to the same points: the threads are counted from the
// process's own task list as the points arrive (a bound: a loaded machine
// may have finished the second half before the first arrives).
TEST(ReadPoints, OneThreadReadsALargeFileAlone)
{
    std::string text;
    for (int i = 0; text.size() < kPointFileSplitBytes + 4096; ++i)
        text += std::to_string(i) + ".25 " + std::to_string(i % 977) + ".5 -3.125 0 0 1\n";
    const std::string path = writeTempFile("large.xyz", text);
    std::vector<std::vector<CGVertex>> read(2);
    for (const unsigned threads : {1u, 2u}) {
        int most = 0;
        PointReadReport report;
        ASSERT_TRUE(readPoints(
            path,
            [&](const CGVertex& p, const CGVector&) {
                if (read[threads - 1].size() % 4096 == 0)
                    most = std::max(most, threadsRunning());
                read[threads - 1].push_back(p);
            },
            false, report, nullptr, threads));
        EXPECT_GE(most, 1);
        EXPECT_LE(most, static_cast<int>(threads));
    }
    ASSERT_EQ(read[0].size(), read[1].size());
    EXPECT_EQ(std::memcmp(read[0].data(), read[1].data(), read[0].size() * sizeof(CGVertex)), 0);
}
