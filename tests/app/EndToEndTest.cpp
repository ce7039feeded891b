#include "SampleShapes.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <lzf.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

TEST(EndToEnd, MeshTargetIsCheckedBeforeAnyWork)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    const struct {
        std::string mesh;
        std::string cause;
    } cases[] = {
        {testsupport::tempPath("mesh"), "the name has no extension; tri3d writes .ply, .obj, .off and .stl files"},
        {testsupport::tempPath("x.gltf"), "\".gltf\" is no format tri3d writes; use .ply, .obj, .off or .stl"},
        {testsupport::tempPath("nodir/x.ply"),
         "the folder \"" + testsupport::tempPath("nodir") + "\" cannot be used: No such file or directory"},
    };
    for (const auto& c : cases) {
        const auto result = run({"file:" + file, "out:" + c.mesh, "view:0"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out,
                  kBanner + "  Writing mesh to file... Failed!\n  -  Error writing file \"" + c.mesh + "\"\n");
        EXPECT_EQ(result.err, "tri3d: " + c.cause + "\n");
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

// --- Files users' tools write, and mistakes on the command line -----------

namespace {

// The six corners of an octahedron, normals outward: values a float holds
// exactly, so every layout gives the same doubles.
const double kCorners[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};

std::string octahedronText()
{
    std::string text;
    for (const auto& c : kCorners)
        for (int k = 0; k < 6; ++k)
            text += std::to_string(static_cast<int>(c[k % 3])) + (k < 5 ? " " : "\n");
    return text;
}

// The surface a run saves as OFF text, or why there is none.
std::string surfaceOf(const std::string& file, std::vector<std::string> more = {})
{
    static int runs = 0;
    const std::string mesh = testsupport::tempPath("surface-" + std::to_string(runs++) + ".off");
    std::vector<std::string> words{"file:" + file, "out:" + mesh, "view:0"};
    words.insert(words.end(), more.begin(), more.end());
    const auto result = run(words);
    if (result.exitCode != 0)
        return "exit " + std::to_string(result.exitCode) + ": " + result.err;
    return testsupport::readFile(mesh);
}

template <typename T>
std::string raw(T value)
{
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

std::string gzipped(const std::string& text)
{
    std::string out(compressBound(static_cast<uLong>(text.size())) + 32, '\0');
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

bool exists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

TEST(EndToEnd, HeaderLinesAreNoPoints)
{
    const std::string plain = surfaceOf(writeTempFile("octahedron.xyz", octahedronText()));
    ASSERT_EQ(plain.rfind("OFF", 0), 0u) << plain;

    // numpy's savetxt header: a comment, passed over in silence.
    const std::string hashed = writeTempFile("hashed.xyz", "# x y z nx ny nz\n" + octahedronText());
    EXPECT_EQ(surfaceOf(hashed), plain);
    EXPECT_EQ(run({"file:" + hashed, "view:0"}).err, "");

    // A header of words: skipped, and counted on standard error.
    const std::string worded = writeTempFile("worded.xyz", "x y z nx ny nz\n" + octahedronText());
    EXPECT_EQ(surfaceOf(worded), plain);
    const auto result = run({"file:" + worded, "view:0"});
    EXPECT_EQ(withoutTime(result.out), reportHead(6, "KD-tree"));
    EXPECT_EQ(result.err, "tri3d: skipped 1 line of six or more words that are not all numbers (first: line 1)\n");

    // normals:file reads as the plain reader always has: the words are a
    // point at the origin.
    EXPECT_EQ(withoutTime(run({"file:" + worded, "view:0", "normals:file"}).out), reportHead(7, "KD-tree"));
}

TEST(EndToEnd, PcdFilesOfEveryKindGiveTheTextFilesSurface)
{
    const std::string plain = surfaceOf(writeTempFile("octahedron.xyz", octahedronText()));
    const std::string head = "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\n"
                             "FIELDS x y z rgb normal_x normal_y normal_z curvature\nSIZE 4 4 4 4 4 4 4 4\n"
                             "TYPE F F F U F F F F\nCOUNT 1 1 1 1 1 1 1 1\nWIDTH 6\nHEIGHT 1\n"
                             "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 6\nDATA ";
    std::string ascii, rows, columns;
    for (const auto& c : kCorners) {
        for (int k = 0; k < 8; ++k)
            ascii +=
                std::string(k == 3 || k == 7 ? "0" : std::to_string(static_cast<int>(c[k % 4]))) + (k < 7 ? " " : "\n");
        for (int k = 0; k < 8; ++k)
            rows += k == 3 ? raw<std::uint32_t>(0) : raw(k == 7 ? 0.0f : static_cast<float>(c[k < 3 ? k : k - 4]));
    }
    for (int field = 0; field < 8; ++field)
        for (int point = 0; point < 6; ++point)
            columns += rows.substr(static_cast<std::size_t>(point * 32 + field * 4), 4);
    std::string packed(columns.size() * 2, '\0');
    const unsigned packedSize = lzf_compress(columns.data(), static_cast<unsigned>(columns.size()), packed.data(),
                                             static_cast<unsigned>(packed.size()));
    ASSERT_GT(packedSize, 0u);
    EXPECT_EQ(surfaceOf(writeTempFile("ascii.pcd", head + "ascii\n" + ascii)), plain);
    EXPECT_EQ(surfaceOf(writeTempFile("binary.pcd", head + "binary\n" + rows)), plain);
    EXPECT_EQ(surfaceOf(writeTempFile("packed.pcd", head + "binary_compressed\n" + raw<std::uint32_t>(packedSize) +
                                                        raw<std::uint32_t>(192) + packed.substr(0, packedSize))),
              plain);

    const std::string cut = writeTempFile("cut.pcd", head + "binary\n" + rows.substr(0, 100));
    const auto result = run({"file:" + cut, "view:0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              kBanner + "  Adding vertices from file... Failed!\n  -  Error loading file \"" + cut + "\"\n");
    EXPECT_EQ(result.err, "tri3d: the PCD file ends after 3 of 6 points\n");
}

TEST(EndToEnd, GzipFilesReadAsWhatTheyHold)
{
    const std::string plain = surfaceOf(writeTempFile("octahedron.xyz", octahedronText()));
    std::string ply = "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\n"
                      "property float z\nproperty float nx\nproperty float ny\nproperty float nz\nend_header\n" +
                      octahedronText();
    const std::string xyzGz = writeTempFile("scan.xyz.gz", gzipped(octahedronText()));
    EXPECT_EQ(surfaceOf(xyzGz), plain);
    EXPECT_EQ(surfaceOf(writeTempFile("scan.ply.gz", gzipped(ply))), plain);

    // Through a pipe, which has no size and cannot be read twice.
    const auto piped = runProgram("/bin/sh", {"-c", "cat \"$1\" | \"$0\" file:/dev/stdin view:0", TRI3D_BINARY, xyzGz},
                                  std::chrono::seconds(60));
    EXPECT_EQ(withoutTime(piped.out), reportHead(6, "KD-tree"));

    const std::string packed = gzipped(octahedronText());
    const std::string cut = writeTempFile("cut.xyz.gz", packed.substr(0, packed.size() - 4));
    const auto result = run({"file:" + cut, "view:0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              kBanner + "  Adding vertices from file... Failed!\n  -  Error loading file \"" + cut + "\"\n");
    EXPECT_EQ(result.err, "tri3d: the gzip data is cut short: the file ends inside the compressed stream\n");
}

TEST(EndToEnd, BinaryJunkFailsAndWritesNothing)
{
    // A zero byte far past the first kilobyte, and a first kilobyte of
    // control bytes without any zero.
    const std::string zero = octahedronText() + std::string(5000, ' ') + std::string(1, '\0') + "\n";
    const std::string controls(2000, '\x01');
    for (const std::string& bytes : {zero, controls}) {
        const std::string file = writeTempFile("junk.bin", bytes);
        const std::string mesh = testsupport::tempPath("junk.ply");
        const auto result = run({"file:" + file, "out:" + mesh, "view:0"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out,
                  kBanner + "  Adding vertices from file... Failed!\n  -  Error loading file \"" + file + "\"\n");
        EXPECT_NE(result.err.find("no text file"), std::string::npos) << result.err;
        EXPECT_FALSE(exists(mesh));
    }
}

TEST(EndToEnd, BareFileNameGetsAHint)
{
    const std::string file = writeTempFile("scan.xyz", kTriangle);
    const auto result = run({file});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, kBanner + kUsage);
    EXPECT_NE(result.err.find("tri3d: did you mean file:" + file + "?\n"), std::string::npos) << result.err;
    // A word that names no file is no hint.
    EXPECT_EQ(run({"scan"}).err.find("did you mean"), std::string::npos);
}

TEST(EndToEnd, HelpGoesWholeToStandardOutput)
{
    const auto bare = run({});
    for (const char* word : {"--help", "-h"}) {
        const auto result = run({word, "file:ignored.xyz"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, kBanner + kUsage + bare.err);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_NE(bare.err.find("  out:<file>"), std::string::npos);
}

TEST(EndToEnd, UnknownKeysNameTheClosestKnownOne)
{
    const std::string file = writeTempFile("tri.xyz", kTriangle);
    const auto result = run({"file:" + file, "ouput:m.ply", "normal:estimate", "colour:red", "view:0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTime(result.out), reportHead(3, "KD-tree"));
    EXPECT_EQ(result.err, "tri3d: unknown key 'ouput' ignored (did you mean out:?)\n"
                          "tri3d: unknown key 'normal' ignored (did you mean normals:?)\n"
                          "tri3d: unknown key 'colour' ignored\n");
}

TEST(EndToEnd, OpenFailuresSayTheirCause)
{
    const std::string missing = testsupport::tempPath("missing.ply");
    EXPECT_EQ(run({"file:" + missing, "view:0"}).err, "tri3d: No such file or directory\n");
    EXPECT_EQ(run({"file:" + testing::TempDir(), "view:0"}).err, "tri3d: Is a directory\n");
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
