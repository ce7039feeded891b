// Running out of memory is a failure the user is told about, not a crash:
// the run is held under a small address-space limit, as on a smaller
// machine.

#include "SampleShapes.h"
#include "app/Console.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

TEST(OutOfMemory, TriangulatingUnderASmallLimitFailsCleanly)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory cannot be mapped under a small address-space limit";
#endif
    // 100,000 points need about 45 MB; the program itself takes about 20.
    std::vector<SamplePoint> sample = torusSample(100000, 25.0, 10.0);
    shuffleSample(sample);
    std::string text;
    char line[160];
    for (const SamplePoint& p : sample) {
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += line;
    }
    const std::string points = testsupport::writeTempFile("big.xyz", text);
    const std::string target = testsupport::tempPath("big.ply");

    const ProgramResult result = runProgram(
        "/bin/sh",
        {"-c", "ulimit -v 44000 && exec \"$0\" \"$@\"", TRI3D_BINARY, "file:" + points, "view:0", "out:" + target},
        std::chrono::seconds(120));

    EXPECT_TRUE(result.exitedWith(1)) << "exit " << result.exitCode << ", signal " << result.signal << "\n"
                                      << result.out << result.err;
    const std::string count = groupedCount(sample.size());
    const std::string end = "  Triangulation in progress... Failed!\n"
                            "  -  Out of memory while triangulating " +
                            count + " points (about 45 MB needed)\n";
    ASSERT_GE(result.out.size(), end.size());
    EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end) << result.out;
    EXPECT_NE(result.err.find("  Warning: " + count + " points need about 45 MB of memory"), std::string::npos)
        << result.err;
    // Nothing of the mesh, and no temporary, is left.
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(target).parent_path()))
        EXPECT_EQ(entry.path().string().rfind(target, 0), std::string::npos) << entry.path();
}
