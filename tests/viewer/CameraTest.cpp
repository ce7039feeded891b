#include "viewer/Camera.h"

#include "viewer/Framing.h"
#include "viewer/Visualize.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// The matrix GL's own calls make for the camera, as frames were once drawn.
Matrix4 byGlCalls(const Camera& camera)
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(static_cast<float>(camera.translation.x), static_cast<float>(camera.translation.y),
                 static_cast<float>(camera.translation.z));
    if (camera.holding)
        glMultMatrixd(camera.held.data());
    const auto turn = static_cast<float>(camera.angle);
    glRotatef(turn, 1.0f, 0.0f, 0.0f);
    glRotatef(turn, 0.0f, 1.0f, 0.0f);
    glRotatef(turn, 0.0f, 0.0f, 1.0f);
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    Matrix4 result{};
    for (int i = 0; i < 16; ++i)
        result[i] = m[i];
    return result;
}

// Equal to the bit, or the picture drawn from the camera would move pixels
// against the one GL's calls drew. Every angle of a whole turn, as the
// frames step through them, with a held turn and without.
TEST(Camera, GivesTheMatrixOfGlsOwnCalls)
{
    Visualize visualize;
    ASSERT_TRUE(visualize.createOffscreenGL(64, 48, 32)) << visualize.lastError;
    Camera camera;
    camera.translation = {0.3, -7.1, -125.0};
    const double c = std::cos(0.4);
    const double s = std::sin(0.4);
    const Matrix4 tilt{1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
    for (int frame = 0; frame <= 1800; ++frame) {
        camera.holding = frame % 2 == 1;
        camera.held = tilt;
        EXPECT_EQ(camera.modelView(), byGlCalls(camera)) << "angle " << camera.angle;
        camera.angle = nextAngle(camera.angle);
    }
}

TEST(Camera, TurnsAboutZThenYThenX)
{
    // z takes x to y, y keeps it, x takes it on to z: the model's x axis
    // ends up pointing at the eye. Turned in the other order it would not.
    Camera camera;
    camera.translation = {0.0, 0.0, 0.0};
    camera.angle = 90.0;
    const CGVertex x = transformed(camera.modelView(), {1.0, 0.0, 0.0});
    EXPECT_NEAR(x.x, 0.0, 1e-6);
    EXPECT_NEAR(x.y, 0.0, 1e-6);
    EXPECT_NEAR(x.z, 1.0, 1e-6);
}

}  // namespace
