#include "SampleShapes.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string torusFile()
{
    std::string text;
    char line[200];
    for (const SamplePoint& p : jitteredTorusSample(12000, 10.0, 4.0, 3)) {
        std::snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g %.9g %.9g\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += line;
    }
    return testsupport::writeTempFile("mpi-torus.xyz", text);
}

// The same points as binary PLY with a colour between position and
// normal, which every rank reads by its own run of rows.
std::string torusPly()
{
    const std::vector<SamplePoint> points = jitteredTorusSample(12000, 10.0, 4.0, 3);
    std::string bytes = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(points.size()) +
                        "\nproperty double x\nproperty double y\nproperty double z\nproperty uchar grey\n"
                        "property float nx\nproperty float ny\nproperty float nz\nend_header\n";
    for (const SamplePoint& p : points) {
        for (double value : {p.x, p.y, p.z})
            bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        bytes += '\x80';
        for (double value : {p.nx, p.ny, p.nz}) {
            const auto narrow = static_cast<float>(value);
            bytes.append(reinterpret_cast<const char*>(&narrow), sizeof narrow);
        }
    }
    return testsupport::writeTempFile("mpi-torus.ply", bytes);
}

// mpirun refuses to run as root unless told, and CI runs as root: the
// permission is given to these runs only.
int runRanks(int ranks, const std::vector<std::string>& words, std::string& errors)
{
    std::vector<std::string> args = {MPIRUN, "--oversubscribe", "-np", std::to_string(ranks), TRI3D_MPI_BINARY};
    args.insert(args.end(), words.begin(), words.end());
    // Open MPI keeps some of its own buffers to the end and unloads its
    // plugins before the leak check could name them, so under the
    // sanitizers the ranks skip that check alone; the same tiles are
    // checked for leaks by the threaded tests.
    std::vector<std::string> environment;
    bool sanitizerOptions = false;
    for (const std::string& entry : inheritedEnvironment()) {
        const bool asan = entry.rfind("ASAN_OPTIONS=", 0) == 0;
        sanitizerOptions = sanitizerOptions || asan;
        environment.push_back(asan ? entry + ":detect_leaks=0" : entry);
    }
    if (!sanitizerOptions)
        environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    environment.push_back("OMPI_ALLOW_RUN_AS_ROOT=1");
    environment.push_back("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1");
    TestProcess process(args, environment);
    int code = -1;
    if (!process.waitForExit(120.0, code))
        return -1;
    errors = process.errors() + process.output();
    return code;
}

}  // namespace

// Two and four ranks write the very bytes the threaded run writes with the
// same tiles.
TEST(MpiRun, RanksWriteTheThreadedResult)
{
    const std::string input = torusFile();
    const std::string threaded = testsupport::tempPath("threaded.ply");
    const ProgramResult reference =
        runProgram(TRI3D_BINARY, {"file:" + input, "tiles:6", "threads:2", "view:0", "out:" + threaded},
                   std::chrono::seconds(120));
    ASSERT_TRUE(reference.exitedWith(0)) << reference.err;
    for (int ranks : {2, 4}) {
        const std::string output = testsupport::tempPath("ranks" + std::to_string(ranks) + ".ply");
        std::string errors;
        ASSERT_EQ(runRanks(ranks, {"file:" + input, "tiles:6", "out:" + output}, errors), 0) << errors;
        EXPECT_EQ(testsupport::readFile(output), testsupport::readFile(threaded)) << ranks << " ranks";
    }
}

// A file no rank can read ends every rank with exit 1 and writes nothing.
TEST(MpiRun, AMissingFileEndsTheJob)
{
    const std::string output = testsupport::tempPath("never.ply");
    std::string errors;
    EXPECT_NE(runRanks(2, {"file:" + testsupport::tempPath("absent.xyz"), "tiles:2", "out:" + output}, errors), 0);
    EXPECT_NE(errors.find("Error loading file"), std::string::npos) << errors;
    EXPECT_EQ(std::fopen(output.c_str(), "rb"), nullptr);
}

// Binary PLY read in runs of rows by three ranks gives the threaded run's
// bytes.
TEST(MpiRun, RanksReadBinaryPlyInRunsOfRows)
{
    const std::string input = torusPly();
    const std::string threaded = testsupport::tempPath("threaded-ply.ply");
    const ProgramResult reference =
        runProgram(TRI3D_BINARY, {"file:" + input, "tiles:3", "view:0", "out:" + threaded}, std::chrono::seconds(120));
    ASSERT_TRUE(reference.exitedWith(0)) << reference.err;
    const std::string output = testsupport::tempPath("ranks-ply.ply");
    std::string errors;
    ASSERT_EQ(runRanks(3, {"file:" + input, "tiles:3", "out:" + output}, errors), 0) << errors;
    EXPECT_EQ(testsupport::readFile(output), testsupport::readFile(threaded));
}
