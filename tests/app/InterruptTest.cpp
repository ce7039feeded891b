// An interrupt may come at any moment; the one that matters most comes
// while a mesh is being written over a file the user wants to keep.

#include "SampleShapes.h"
#include "support/RunProgram.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
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

    // The temporary appears when the write begins; the interrupt follows
    // at once.
    std::atomic<bool> sent{false};
    std::atomic<bool> finished{false};
    std::thread interrupter;
    const ProgramResult result = runProgram(
        TRI3D_BINARY, {"file:" + points, "view:0", "out:" + target}, std::chrono::seconds(300), [&](pid_t pid) {
            interrupter = std::thread([&, pid] {
                while (!finished && namesStartingWith(folder, prefix).empty())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (!finished) {
                    kill(pid, SIGINT);
                    sent = true;
                }
            });
        });
    finished = true;
    interrupter.join();

    ASSERT_TRUE(sent) << "the write was never seen under way:\n" << result.out;
    EXPECT_TRUE(result.exitedWith(130)) << "exit " << result.exitCode << ", signal " << result.signal << "\n"
                                        << result.out;
    EXPECT_NE(result.out.find("  Writing mesh to file... "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Done!\n  |T|"), std::string::npos) << "the write ended before the interrupt";
    EXPECT_EQ(testsupport::readFile(target), "the mesh kept from before\n");
    EXPECT_TRUE(namesStartingWith(folder, prefix).empty());
}
