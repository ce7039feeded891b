// An interrupt may come at any moment; the one that matters most comes
// while a mesh is being written over a file the user wants to keep.

#include "SampleShapes.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

// A torus big enough that writing it as text takes a good fraction of a
// second in every build, so the interrupt lands in the middle of it.
std::string writeTorus(const std::string& name, std::size_t count)
{
    std::vector<SamplePoint> points = torusSample(count, 25.0, 10.0);
    shuffleSample(points);
    std::string text;
    char line[160];
    for (const SamplePoint& p : points) {
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += line;
    }
    return testsupport::writeTempFile(name, text);
}

// Names in folder that begin with prefix.
std::vector<std::string> namesStartingWith(const std::filesystem::path& folder, const std::string& prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    return names;
}

}  // namespace

TEST(Interrupt, DuringTheWriteLeavesTheOldTargetAndNoTemporary)
{
    const std::string points = writeTorus("interrupted.xyz", 200000);
    const std::string target = testsupport::writeTempFile("interrupted.obj", "the mesh kept from before\n");
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    const std::string prefix = std::filesystem::path(target).filename().string() + ".";

    TestProcess process({TRI3D_BINARY, "file:" + points, "view:0", "out:" + target}, inheritedEnvironment());
    ASSERT_TRUE(process.started());
    // The temporary appears when the write begins; the interrupt follows
    // at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (process.running() && namesStartingWith(folder, prefix).empty() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(process.running()) << "the write was never seen under way:\n" << process.output();
    process.send(SIGINT);
    int exitCode = -1;
    ASSERT_TRUE(process.waitForExit(60, exitCode));

    // Ended by the signal itself, after cleaning up, so a shell sees 130
    // and a script's loop stops too.
    EXPECT_EQ(exitCode, 130);
    EXPECT_EQ(process.signal(), SIGINT);
    const std::string output = process.output();
    EXPECT_NE(output.find("  Writing mesh to file... "), std::string::npos) << output;
    EXPECT_EQ(output.find("Done!\n  |T|"), std::string::npos) << "the write ended before the interrupt";
    EXPECT_EQ(testsupport::readFile(target), "the mesh kept from before\n");
    EXPECT_TRUE(namesStartingWith(folder, prefix).empty());
}

// During the triangulation the interrupt goes through the same stop flag a
// library caller sets: the run stops at its next look and the program then
// ends as the signal would have ended it.
TEST(Interrupt, DuringTheTriangulationEndsAsTheSignal)
{
    const std::string points = writeTorus("interrupted-run.xyz", 30000);
    TestProcess process({TRI3D_BINARY, "file:" + points, "kd:0", "view:0"}, inheritedEnvironment());
    ASSERT_TRUE(process.started());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (process.running() && process.output().find("Triangulation in progress") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(process.running()) << "the triangulation was never seen under way:\n" << process.output();
    process.send(SIGINT);
    int exitCode = -1;
    ASSERT_TRUE(process.waitForExit(60, exitCode));
    EXPECT_EQ(exitCode, 130);
    EXPECT_EQ(process.signal(), SIGINT);
    EXPECT_EQ(process.output().find("Time:"), std::string::npos) << "the run ended before the interrupt";
}
