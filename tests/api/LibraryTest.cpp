#include <tri3d/tri3d.h>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>

namespace {

std::string sample(const std::string& name)
{
    return std::string(TRI3D_SOURCE_DIR) + "/" + name;
}

using Faces = std::vector<std::array<std::uint32_t, 3>>;

}  // namespace

// Nothing of one run may reach another: the same two clouds, run at once
// on two threads (each cloud on both searches, and one cloud on both
// threads), give exactly the faces they give one after the other.
TEST(Library, TwoThreadsGiveTheSequentialFaces)
{
    const tri3d::Cloud torus = tri3d::readPoints(sample("samples/torus.xyz"));
    const tri3d::Cloud sphere = tri3d::readPoints(sample("tests/data/sphere200.xyz"));
    const Faces torusKd = tri3d::reconstruct(torus).faces;
    const Faces torusLinear = tri3d::reconstruct(torus, tri3d::Search::Linear).faces;
    const Faces sphereKd = tri3d::reconstruct(sphere).faces;
    ASSERT_FALSE(torusKd.empty());

    Faces a[3];
    Faces b[3];
    std::thread first([&] {
        a[0] = tri3d::reconstruct(torus).faces;
        a[1] = tri3d::reconstruct(sphere).faces;
        a[2] = tri3d::reconstruct(torus, tri3d::Search::Linear).faces;
    });
    std::thread second([&] {
        b[0] = tri3d::reconstruct(sphere).faces;
        b[1] = tri3d::reconstruct(torus, tri3d::Search::Linear).faces;
        b[2] = tri3d::reconstruct(torus).faces;
    });
    first.join();
    second.join();
    EXPECT_EQ(a[0], torusKd);
    EXPECT_EQ(a[1], sphereKd);
    EXPECT_EQ(a[2], torusLinear);
    EXPECT_EQ(b[0], sphereKd);
    EXPECT_EQ(b[1], torusLinear);
    EXPECT_EQ(b[2], torusKd);
}

// Faces index the caller's array, so a point the reader would skip is
// refused rather than dropped; errors name the file as the program does.
TEST(Library, RefusesWhatItCannotTakeWithAReason)
{
    try {
        tri3d::readPoints(testsupport::tempPath("missing.xyz"));
        FAIL() << "no error for a missing file";
    } catch (const tri3d::Error& error) {
        EXPECT_NE(std::string(error.what()).find("Error loading file \""), std::string::npos) << error.what();
    }
    tri3d::Cloud cloud = tri3d::readPoints(sample("tests/data/sphere200.xyz"));
    tri3d::Cloud shortNormals = cloud;
    shortNormals.normals.pop_back();
    EXPECT_THROW(tri3d::reconstruct(shortNormals), tri3d::Error);
    cloud.positions[7].y = std::nan("");
    EXPECT_THROW(tri3d::reconstruct(cloud), tri3d::Error);
    EXPECT_THROW(tri3d::estimateNormals(cloud), tri3d::Error);
    tri3d::Mesh mesh;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 3}};
    EXPECT_THROW(tri3d::report(mesh), tri3d::Error);
    EXPECT_THROW(tri3d::writeMesh(testsupport::tempPath("bad.ply"), mesh), tri3d::Error);
    mesh.faces = {{0, 1, 2}};
    EXPECT_THROW(tri3d::writeMesh(testsupport::tempPath("mesh.unknown"), mesh), tri3d::Error);
}

// The flag the progress callback sets stops the triangulation under way.
TEST(Library, CallbackCanCancelTheRun)
{
    const tri3d::Cloud torus = tri3d::readPoints(sample("samples/torus.xyz"));
    std::atomic<bool> cancel{false};
    int calls = 0;
    tri3d::Hooks hooks;
    hooks.cancel = &cancel;
    hooks.progress = [&](const tri3d::Progress& progress) {
        ++calls;
        if (progress.step == tri3d::Progress::Step::Triangulating && progress.done > 0)
            cancel = true;
    };
    EXPECT_THROW(tri3d::reconstruct(torus, tri3d::Search::KdTree, hooks), tri3d::Cancelled);
    EXPECT_GT(calls, 1);
}
