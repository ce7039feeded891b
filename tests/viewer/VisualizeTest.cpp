#include "viewer/Visualize.h"

#include "geometry/Surface.h"
#include "TestSupport.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>

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

// A ball of rings: points far enough apart for their spheres to show, and
// faces lit from every side; finer with more rings.
Surface ball(int rings = 9, int around = 14)
{
    Surface surface;
    for (int r = 0; r <= rings; ++r)
        for (int a = 0; a < around; ++a) {
            const double up = 3.14159265358979 * r / rings;
            const double turn = 2.0 * 3.14159265358979 * a / around;
            const CGVector n{std::sin(up) * std::cos(turn), std::sin(up) * std::sin(turn), std::cos(up)};
            surface.positions.push_back({30.0 * n.x + 0.3, 30.0 * n.y - 0.7, 30.0 * n.z + 0.1});
            surface.normals.push_back(n);
        }
    const auto ringCount = static_cast<std::uint32_t>(rings);
    const auto aroundCount = static_cast<std::uint32_t>(around);
    for (std::uint32_t r = 0; r < ringCount; ++r)
        for (std::uint32_t a = 0; a < aroundCount; ++a) {
            const std::uint32_t p = r * aroundCount + a;
            const std::uint32_t q = r * aroundCount + (a + 1) % aroundCount;
            surface.faces.push_back({p, p + aroundCount, q});
            surface.faces.push_back({q, p + aroundCount, q + aroundCount});
        }
    return surface;
}

// The frame as it was drawn before the arrays: every point a fresh quadric
// sphere, every face its own begin and end, each with the view set again.
void drawOneByOne(const Surface& surface, const Visualize& visualize, bool dots, bool tri)
{
    auto setView = [&visualize] {
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const CGVector& t = visualize.camera.translation;
        glTranslatef(static_cast<float>(t.x), static_cast<float>(t.y), static_cast<float>(t.z));
        const auto turn = static_cast<float>(visualize.camera.angle);
        glRotatef(turn, 1.0f, 0.0f, 0.0f);
        glRotatef(turn, 0.0f, 1.0f, 0.0f);
        glRotatef(turn, 0.0f, 0.0f, 1.0f);
    };
    GLUquadric* quadric = gluNewQuadric();
    gluQuadricDrawStyle(quadric, GLU_FILL);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (dots)
        for (const CGVertex& p : surface.positions) {
            glColor3d(0.15, 0.95, 0.45);
            setView();
            glTranslatef(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
            gluSphere(quadric, visualize.framing.pointRadius, 8, 8);
        }
    if (tri)
        for (const Face& face : surface.faces) {
            glColor3d(0.2, 0.4, 0.8);
            setView();
            glBegin(GL_TRIANGLES);
            for (const std::uint32_t corner : face) {
                const CGVector& n = surface.normals[corner];
                glNormal3d(n.x, n.y, n.z);
                const CGVertex& p = surface.positions[corner];
                glVertex3d(p.x, p.y, p.z);
            }
            glEnd();
        }
    gluDeleteQuadric(quadric);
}

// The arrays, the sphere's list and the camera's matrix change how a frame
// is sent, not one pixel of the spheres and faces it shows.
TEST(DrawFrame, SpheresAndFacesMatchTheOneByOneDrawing)
{
    Visualize visualize;
    ASSERT_TRUE(visualize.createOffscreenGL(800, 600, 32)) << visualize.lastError;
    visualize.setBackground(0.0f, 0.0f, 0.0f, 0.0f);
    visualize.camera.translation.z = -125.0;
    visualize.camera.angle = 37.3;
    const Surface surface = ball();
    DrawSettings draw;
    draw.mesh = false;
    draw.tri = true;
    visualize.drawFrame(surface, draw);
    const Image arrays = frameOf(visualize);
    drawOneByOne(surface, visualize, true, true);
    const Image oneByOne = frameOf(visualize);
    EXPECT_GT(arrays.count(isPointGreen), 1000u);
    EXPECT_GT(arrays.count(isFaceBlue), 1000u);
    EXPECT_TRUE(arrays.rgb == oneByOne.rgb);
}

// Where faces are drawn, the sides they hide are left out; the frame must
// be the one every side gives, to the pixel, with a hole through which the
// far side's inside shows.
TEST(DrawFrame, SidesLeftOutBehindTheFacesChangeNoPixel)
{
    Visualize visualize;
    ASSERT_TRUE(visualize.createOffscreenGL(800, 600, 32)) << visualize.lastError;
    visualize.setBackground(0.0f, 0.0f, 0.0f, 0.0f);
    visualize.camera.translation.z = -125.0;
    const int around = 180;
    Surface surface = ball(120, around);
    const auto band = surface.faces.begin() + 2 * around * 50;
    surface.faces.erase(band, band + 2 * around * 6);
    DrawSettings draw;
    draw.dots = false;
    draw.tri = true;
    for (const double angle : {0.0, 37.3, 123.9}) {
        visualize.camera.angle = angle;
        visualize.drawFrame(surface, draw);
        const Image someSides = frameOf(visualize);

        drawOneByOne(surface, visualize, false, true);
        glDisable(GL_LIGHTING);
        glColor3d(0.0, 0.1, 0.3);
        const std::vector<std::uint32_t> sides = sidesOnce(surface.faces);
        glBegin(GL_LINES);
        for (const std::uint32_t end : sides) {
            const CGVertex& p = surface.positions[end];
            glVertex3d(p.x, p.y, p.z);
        }
        glEnd();
        glEnable(GL_LIGHTING);
        const Image everySide = frameOf(visualize);

        EXPECT_GT(someSides.count(isLineBlue), 10000u) << angle;
        EXPECT_GT(someSides.count(isFaceBlue), 1000u) << angle;
        EXPECT_TRUE(someSides.rgb == everySide.rgb) << angle;
    }
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
