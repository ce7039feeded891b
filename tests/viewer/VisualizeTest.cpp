#include "viewer/Visualize.h"

#include "geometry/Surface.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

void addTriangle(Surface& surface, CGVertex a, CGVertex b, CGVertex c)
{
    // Tilted away from the light, so the face is lit blue, not white with
    // the highlight a normal straight at the viewer would give.
    const CGVector normal{0.0, 0.6, 0.8};
    const auto first = static_cast<std::uint32_t>(surface.positions.size());
    for (const CGVertex& corner : {a, b, c}) {
        surface.positions.push_back(corner);
        surface.normals.push_back(normal);
    }
    surface.faces.push_back({first, first + 1, first + 2});
}

Image frameOf(Visualize& visualize)
{
    Image image;
    image.width = visualize.frameWidth();
    image.height = visualize.frameHeight();
    image.rgb = visualize.readPixels();
    return image;
}

TEST(CreateGLWindow, WithoutDisplayFailsAtClassRegistration)
{
    ScopedDisplay none("");
    Visualize visualize;
    EXPECT_FALSE(visualize.createGLWindow(800, 600, 32));
    EXPECT_EQ(visualize.lastError, "Failed To Register The Window Class");
    EXPECT_TRUE(visualize.readPixels().empty());
}

TEST(CreateGLWindow, SecondCallWhileOpenFailsAndKeepsLastError)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    ScopedDisplay display(server.display());
    Visualize visualize;
    ASSERT_TRUE(visualize.createGLWindow(800, 600, 32)) << visualize.lastError;
    visualize.lastError = "earlier";
    EXPECT_FALSE(visualize.createGLWindow(800, 600, 32));
    EXPECT_FALSE(visualize.createOffscreenGL(800, 600, 32));
    EXPECT_EQ(visualize.lastError, "earlier");

    // Closed, the same object can open again.
    visualize.killGLWindow();
    EXPECT_TRUE(visualize.createGLWindow(800, 600, 32)) << visualize.lastError;
}

TEST(RenderFrame, AngleStaysWithinOneTurn)
{
    Visualize visualize;
    ASSERT_TRUE(visualize.createOffscreenGL(64, 48, 32)) << visualize.lastError;
    const Surface nothing;
    for (int frame = 1; frame <= 1801; ++frame) {
        visualize.renderFrame(nothing, DrawSettings{});
        ASSERT_GT(visualize.camera.angle, -360.0) << "frame " << frame;
        ASSERT_LE(visualize.camera.angle, 0.0) << "frame " << frame;
    }
    EXPECT_NEAR(visualize.camera.angle, -0.2, 1e-9);
}

TEST(DrawFrame, ClockwiseTrianglesAreCulled)
{
    Visualize visualize;
    ASSERT_TRUE(visualize.createOffscreenGL(800, 600, 32)) << visualize.lastError;
    visualize.setBackground(0.0f, 0.0f, 0.0f, 0.0f);
    Surface scene;
    // Seen from the viewer the left one runs counter-clockwise, the right one clockwise.
    addTriangle(scene, {-30, -10, 0}, {-10, -10, 0}, {-20, 10, 0});
    addTriangle(scene, {10, -10, 0}, {20, 10, 0}, {30, -10, 0});
    DrawSettings draw;
    draw.dots = false;
    draw.mesh = false;
    draw.tri = true;
    visualize.drawFrame(scene, draw);

    // The centroids, at x -20 and 20 and y -10/3, seen from 100 units away.
    const Image image = frameOf(visualize);
    EXPECT_TRUE(isFaceBlue(image.at(255, 324)));
    EXPECT_TRUE(isBlack(image.at(545, 324)));
}

TEST(ReadPixels, TopRowComesFirst)
{
    Visualize visualize;
    ASSERT_TRUE(visualize.createOffscreenGL(800, 600, 32)) << visualize.lastError;
    visualize.setBackground(1.0f, 1.0f, 1.0f, 0.0f);
    Surface scene;
    scene.positions.push_back({0.0, 20.0, 0.0});  // above the middle
    scene.normals.push_back({0.0, 0.0, 1.0});
    visualize.drawFrame(scene, DrawSettings{});

    const Image image = frameOf(visualize);
    EXPECT_TRUE(isPointGreen(image.at(400, 155)));
    EXPECT_TRUE(isWhite(image.at(400, 445)));
}

}  // namespace
