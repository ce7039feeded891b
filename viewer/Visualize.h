#pragma once

#include "geometry/CGVertex.h"
#include "viewer/Camera.h"
#include "viewer/Framing.h"
#include "viewer/OffscreenSurface.h"
#include "viewer/SceneArrays.h"

#include <cstddef>
#include <string>
#include <vector>

struct GLFWwindow;
class GLUquadric;
struct Surface;

// Which parts of the result a frame shows.
struct DrawSettings {
    bool dots = true;  // every point as a small lit sphere
    bool mesh = true;  // the three sides of every triangle as unlit lines
    bool tri = false;  // every triangle filled and lit
};

// The viewer: one window (or one offscreen surface) with its GL context, the
// quadric the points are drawn with, and the view that turns each frame.
// Everything runs on the thread that created the window.
class Visualize {
public:
    Visualize();
    ~Visualize();

    Visualize(const Visualize&) = delete;
    Visualize& operator=(const Visualize&) = delete;

    // Opens a shown window of outer size width by height, asking for bits
    // colour and depth bits, with its context current and the GL state of
    // initGL in place. False on failure, with the reason in lastError; false
    // at once, lastError untouched, while a window or surface exists.
    bool createGLWindow(int width, int height, int bits);

    // As createGLWindow, but nothing appears on screen: the frame is drawn
    // into a surface that needs no display server where the GL library can
    // give one, otherwise into a window that is never shown.
    bool createOffscreenGL(int width, int height, int bits);

    // Sets the fixed GL state and resets the view. Needs a current context.
    void initGL();

    // Releases the context, the surface and the window; nothing without one.
    void killGLWindow();

    // Replaces the window's caption; nothing without a window.
    void setCaption(const std::string& caption);

    // Sets the colour every frame is cleared to, and clears once.
    void setBackground(float red, float green, float blue, float alpha);

    // Handles pending window events and draws a frame whenever none were
    // pending, until the window is asked to close. In the window a left drag
    // turns the model, a right or middle drag moves it, the wheel zooms;
    // space pauses and resumes the turning (a drag pauses it), r goes back
    // to the view the loop started with, Escape and q close the window.
    // While paused and left alone it sleeps instead of drawing. A
    // frameLimit above 0 closes the window after that many frames. Returns
    // the frames drawn.
    std::size_t runLoop(const Surface& result, const DrawSettings& draw, std::size_t frameLimit = 0);

    // Turns the view one step (unless paused), draws the frame and presents it.
    void renderFrame(const Surface& result, const DrawSettings& draw);

    // Builds the arrays frames of result draw from, as the first frame
    // would; for a first frame as quick as the rest. Needs a context.
    void prepare(const Surface& result);

    // renderFrame without presenting, so the frame can still be read back.
    // The first frame of a surface builds the arrays every later frame of
    // it draws from: a surface must not change while it is shown.
    void drawFrame(const Surface& result, const DrawSettings& draw);

    // The colour buffer being drawn into: width * height RGB triples, top
    // row first. Empty without a context.
    std::vector<unsigned char> readPixels() const;

    int frameWidth() const { return width; }
    int frameHeight() const { return height; }

    Camera camera;          // where the model is seen from
    Framing framing;        // how positions become view coordinates; none by default
    bool turning = true;    // false: the angle stays as it is from frame to frame
    std::string lastError;  // why the last createGLWindow failed
    std::string lastCause;  // what lay behind lastError in a user's words; empty when unknown

private:
    bool openWindow(int width, int height, int bits, bool shown);
    bool fail(const char* message, std::string cause);
    double pointPixels() const;
    void drawRoundPoints(double across);

    void onKey(int key, int scancode, int action);
    void onButton(int button, int action);
    void onCursor(double x, double y);
    void onScroll(double offset);
    void turnBy(double right, double down);
    void goHome();

    // What the mouse has turned, a unit quaternion (w, x, y, z) in view
    // axes; the camera holds it as a matrix. Unused until the first drag.
    double held[4] = {1.0, 0.0, 0.0, 0.0};
    int dragButton = -1;   // the button held down since the last press, or -1
    double cursorX = 0.0;  // where the last pointer event left the pointer
    double cursorY = 0.0;
    bool cursorKnown = false;
    bool changed = false;  // the view changed since the last frame
    double homeAngle = 0.0;
    CGVector homeTranslation;

    unsigned short bits = 0;
    unsigned short width = 0;
    unsigned short height = 0;
    GLFWwindow* window = nullptr;   // the window and its context, owned
    OffscreenSurface offscreen;     // the context when drawing without a window
    GLUquadric* quadric = nullptr;  // owned
    SceneArrays scene;              // what frames draw, built at the first frame of a surface
};
