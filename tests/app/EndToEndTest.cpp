#include "SampleShapes.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

using testsupport::writeTempFile;

namespace {

ProgramResult run(const std::vector<std::string>& words)
{
    return runProgram(TRI3D_BINARY, words, std::chrono::seconds(60));
}

const std::string kBanner = "\nTriangulation in 3D  -  tri3d, surfaces from oriented points\n\n";

const std::string kUsage = "mandatory arguments are:\n"
                           "  file:<filename>  - load vertices from file\n"
                           "\n"
                           "optional arguments are:\n"
                           "  kd:<0|1>         - activate normal (Linear) use or optimized (KD) use\n"
                           "                     default: 1 (use kd)\n"
                           "  dots:<0|1>       - show vertices\n"
                           "                     default: 1 (true)\n"
                           "  mesh:<0|1>       - show triangle-mesh\n"
                           "                     default: 1 (true)\n"
                           "  tri:<0|1>        - show triangles\n"
                           "                     default: 0 (false)\n"
                           "  transx:<value>   - translation along x-axis\n"
                           "                     default: 0\n"
                           "  transy:<value>   - translation along y-axis\n"
                           "                     default: 0\n"
                           "  zoom:<value>     - translation along z-axis\n"
                           "                     default: -25\n"
                           "\n";

// The report up to the time line, whose figure varies.
std::string reportHead(std::size_t points, const char* method)
{
    return kBanner + "  Adding vertices from file... Done!\n  |P| = " + std::to_string(points) +
           "\n  Vertex Candidate Search Algorithm: " + method + "\n  Triangulation in progress... Done!\n  - Time: ";
}

// Splits off the time line's figure and checks its form.
std::string withoutTime(const std::string& output)
{
    const std::size_t at = output.find("  - Time: ");
    if (at == std::string::npos)
        return output;
    const std::size_t digits = at + 10;
    std::size_t end = digits;
    while (end < output.size() && output[end] >= '0' && output[end] <= '9')
        ++end;
    EXPECT_GT(end, digits) << "no milliseconds figure";
    EXPECT_EQ(output.compare(end, 14, " milliseconds\n"), 0);
    return output.substr(0, digits) + output.substr(end + 14);
}

const char* kTriangle = "0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n";

}  // namespace

TEST(EndToEnd, UsageWithoutAPointFile)
{
    for (auto words : {std::vector<std::string>{}, {"file:"}, {"kd:0", "Dots:0"}}) {
        const auto result = run(words);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, kBanner + kUsage);
    }
}

TEST(EndToEnd, MissingFileFailsWithItsName)
{
    const std::string name = testsupport::tempPath("no such file.xyz");
    const auto result = run({"file:" + name, "view:0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              kBanner + "  Adding vertices from file... Failed!\n  -  Error loading file \"" + name + "\"\n");
}

TEST(EndToEnd, DirectoryFailsLikeAMissingFile)
{
    const auto result = run({"file:" + testing::TempDir(), "view:0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("Failed!\n  -  Error loading file \""), std::string::npos);
}

TEST(EndToEnd, SmallFileGivesTheFullReport)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    const auto result = run({"file:" + file, "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree"));
}

TEST(EndToEnd, KdValuesPickTheMethod)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    for (const char* value : {"abc", "0x1", "0"}) {
        const auto result = run({"file:" + file, std::string("kd:") + value, "view:0"});
        EXPECT_EQ(withoutTime(result.out), reportHead(3, "Linear")) << value;
    }
    for (const char* value : {"-1", "2"}) {
        const auto result = run({"file:" + file, std::string("kd:") + value, "view:0"});
        EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree")) << value;
    }
}

TEST(EndToEnd, LeftmostFileIsLoaded)
{
    const std::string a = writeTempFile("a.xyz", kTriangle);
    const std::string b = writeTempFile("b.xyz", "0 0 0 0 0 1\n");
    const auto result = run({"file:" + a, "file:" + b, "view:0"});
    EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree"));
}

TEST(EndToEnd, FileWithoutUsablePointsStillTriangulates)
{
    // Two numbers make no point in any layout (three would, as x y z).
    const std::string file = writeTempFile("comments.xyz", "// nothing\n1 2\n");
    const auto result = run({"file:" + file, "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(0, "KD-tree"));
}

TEST(EndToEnd, MeshExportReportsTheTriangleCount)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    const std::string mesh = testsupport::tempPath("tri.obj");
    const auto result = run({"file:" + file, "out:" + mesh, "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree") + "  Writing mesh to file... Done!\n  |T| = 1\n");
}

TEST(EndToEnd, ReportLinesFollowTheMeshLines)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    const std::string mesh = testsupport::tempPath("tri.off");
    const auto result = run({"file:" + file, "out:" + mesh, "view:0", "report:1"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree") +
                                           "  Writing mesh to file... Done!\n  |T| = 1\n"
                                           "  faces: 1\n  vertices used: 3\n  edges: 3\n  boundary edges: 3\n"
                                           "  boundary loops: 1\n  non-manifold edges: 0\n  inconsistent edges: 0\n"
                                           "  duplicate faces: 0\n  zero-area faces: 0\n  components: 1\n"
                                           "  Euler characteristic: 1\n  area: 0.5\n");
}

TEST(EndToEnd, MeshExportFailureIsReported)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    for (const std::string& mesh :
         {testsupport::tempPath("no-such-folder/tri.ply"), testsupport::tempPath("tri.3mf")}) {
        const auto result = run({"file:" + file, "out:" + mesh, "view:0"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree") +
                                               "  Writing mesh to file... Failed!\n  -  Error writing file \"" + mesh +
                                               "\"\n");
    }
}

namespace {

// Points of a sphere as x y z lines, no normals.
std::string sphereLines(int rings)
{
    std::string text;
    for (int i = 1; i < rings; ++i) {
        const double polar = 3.14159265358979 * i / rings;
        for (int j = 0; j < 2 * rings; ++j) {
            const double around = 3.14159265358979 * j / rings;
            text += std::to_string(std::sin(polar) * std::cos(around)) + " " +
                    std::to_string(std::sin(polar) * std::sin(around)) + " " + std::to_string(std::cos(polar)) + "\n";
        }
    }
    return text;
}

}  // namespace

TEST(EndToEnd, CleanFileSaysNothingOnStandardError)
{
    const auto result = run({"file:" + writeTempFile("clean.xyz", kTriangle), "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
}

TEST(EndToEnd, PointsWithoutNormalsGetEstimatedOnes)
{
    // 19 rings of 40 points; a header line of words on top.
    const std::string file = writeTempFile("bare.xyz", "x y z\n" + sphereLines(20));
    const auto result = run({"file:" + file, "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(760, "KD-tree"));
    EXPECT_NE(result.err.find("tri3d: skipped 1 line that is neither six nor three numbers separated by spaces "
                              "(first: line 1)\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("tri3d: normals estimated for 760 points from 16 neighbours each (the file has none)"),
              std::string::npos)
        << result.err;

    // normals:file reads as the plain reader does: no x y z points.
    const auto plain = run({"file:" + file, "normals:file", "view:0"});
    EXPECT_EQ(withoutTime(plain.out), reportHead(0, "KD-tree"));
    EXPECT_EQ(plain.err, "tri3d: skipped 761 lines with fewer than six numbers (first: line 1)\n");
}

TEST(EndToEnd, CommaSeparatedFileSaysWhyItHasNoPoints)
{
    const auto result = run({"file:" + writeTempFile("comma.csv", "1,2,3,0,0,1\n4,5,6,0,0,1\n"), "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(0, "KD-tree"));
    EXPECT_NE(result.err.find("skipped 2 lines"), std::string::npos) << result.err;
}

TEST(EndToEnd, MalformedPlyFailsWithItsReason)
{
    const std::string file = writeTempFile("cut.ply", "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                                                      "property float y\nproperty float z\nend_header\n1 2 3\n");
    const auto result = run({"file:" + file, "view:0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              kBanner + "  Adding vertices from file... Failed!\n  -  Error loading file \"" + file + "\"\n");
    EXPECT_EQ(result.err, "tri3d: the file ends after 1 of 2 vertex rows\n");
}

TEST(EndToEnd, FaultySurfaceGetsOneLineOnStandardErrorUnlessCleaned)
{
    // Points placed at random leave the surface as made with edges two
    // faces run the same way: the case the line is for.
    std::string text;
    char row[160];
    for (const SamplePoint& p : randomTorusSample(2000, 25.0, 10.0, 5)) {
        std::snprintf(row, sizeof row, "%.9g %.9g %.9g %.9g %.9g %.9g\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += row;
    }
    const std::string file = writeTempFile("faulty.xyz", text);
    const auto made = run({"file:" + file, "view:0", "report:1"});
    EXPECT_EQ(made.exitCode, 0);
    EXPECT_EQ(made.err.rfind("tri3d: the surface has ", 0), 0u) << made.err;
    EXPECT_NE(made.err.find(" inconsistently wound edges"), std::string::npos) << made.err;
    const std::string tail = "; clean:1 repairs them\n";
    EXPECT_EQ(made.err.find(tail), made.err.size() - tail.size()) << made.err;
    EXPECT_EQ(std::count(made.err.begin(), made.err.end(), '\n'), 1);

    const auto cleaned = run({"file:" + file, "view:0", "report:1", "clean:1"});
    EXPECT_EQ(cleaned.err, "");
}
