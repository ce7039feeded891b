#include "viewer/Visualize.h"

#include "geometry/Surface.h"

#include <GL/gl.h>
#include <GL/glu.h>
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kInitialCaption = "- K a l o V e r n -";

constexpr double kPointColour[3] = {0.15, 0.95, 0.45};
// A sphere narrower than this many pixels shows no shape: a round point
// stands in for it.
constexpr double kSmallestSphere = 2.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kZoomStep = 0.1;  // of the view's distance, per notch of the wheel
constexpr int kHeapPad = 64 << 20;

// The step at which a window could not be made, told by what GLFW reports.
const char* creationFailure(int code)
{
    switch (code) {
    case GLFW_FORMAT_UNAVAILABLE: return "Can't Find a Suitable PixelFormat";
    case GLFW_API_UNAVAILABLE:
    case GLFW_VERSION_UNAVAILABLE: return "Can't Create a GL Rendering Context";
    default: return "Window Creation Error!";
    }
}

// Why the window library would not start, as a user can act on it.
std::string startFailure(const char* description)
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return "No display (DISPLAY is not set)";
    if (description != nullptr && std::strstr(description, "open display") != nullptr)
        return std::string("No display (cannot connect to DISPLAY=") + display + ")";
    return std::string("No window system (") + (description != nullptr ? description : "unknown reason") + ")";
}

std::string contextFailure(const char* description)
{
    return std::string("No OpenGL on this display (") + (description != nullptr ? description : "unknown reason") + ")";
}

Visualize& owner(GLFWwindow* window)
{
    return *static_cast<Visualize*>(glfwGetWindowUserPointer(window));
}

}  // namespace

Visualize::Visualize() : quadric(gluNewQuadric()) {}

Visualize::~Visualize()
{
    killGLWindow();
    gluDeleteQuadric(quadric);
}

bool Visualize::createGLWindow(int newWidth, int newHeight, int newBits)
{
    return openWindow(newWidth, newHeight, newBits, true);
}

bool Visualize::createOffscreenGL(int newWidth, int newHeight, int newBits)
{
    if (window != nullptr || offscreen.isOpen())
        return false;
    width = static_cast<unsigned short>(newWidth);
    height = static_cast<unsigned short>(newHeight);
    bits = static_cast<unsigned short>(newBits);
    if (offscreen.create(newWidth, newHeight, newBits)) {
        initGL();
        return true;
    }
    return openWindow(newWidth, newHeight, newBits, false);
}

bool Visualize::openWindow(int newWidth, int newHeight, int newBits, bool shown)
{
    if (window != nullptr || offscreen.isOpen())
        return false;
    width = static_cast<unsigned short>(newWidth);
    height = static_cast<unsigned short>(newHeight);
    bits = static_cast<unsigned short>(newBits);

    // Once started, the window library stays so for the whole process, as
    // it would keep a registered window class: shutting it down closes the
    // display connection and unloads the GL driver with it, whose own
    // unfreed blocks then look like leaks of ours to a leak checker.
    if (glfwInit() != GLFW_TRUE) {
        const char* description = nullptr;
        glfwGetError(&description);
        return fail("Failed To Register The Window Class", startFailure(description));
    }

    glfwDefaultWindowHints();
    glfwWindowHintString(GLFW_X11_CLASS_NAME, "OpenGL");
    glfwWindowHintString(GLFW_X11_INSTANCE_NAME, "tri3d");
    // Hidden at first, so it can be placed and sized before it appears.
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_FOCUS_ON_SHOW, GLFW_TRUE);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_RED_BITS, bits / 4);
    glfwWindowHint(GLFW_GREEN_BITS, bits / 4);
    glfwWindowHint(GLFW_BLUE_BITS, bits / 4);
    glfwWindowHint(GLFW_ALPHA_BITS, bits / 4);
    glfwWindowHint(GLFW_DEPTH_BITS, bits);
    glfwWindowHint(GLFW_STENCIL_BITS, 0);
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);

    glfwGetError(nullptr);  // forget anything older than this attempt
    window = glfwCreateWindow(width, height, kInitialCaption, nullptr, nullptr);
    if (window == nullptr) {
        const char* description = nullptr;
        const int code = glfwGetError(&description);
        return fail(creationFailure(code), contextFailure(description));
    }

    if (shown) {
        // width by height is the outer size, frame and caption included,
        // with the frame's top-left corner at the top-left of the screen.
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        glfwGetWindowFrameSize(window, &left, &top, &right, &bottom);
        if (left + right < width && top + bottom < height)
            glfwSetWindowSize(window, width - left - right, height - top - bottom);
        glfwSetWindowPos(window, left, top);
    }

    glfwMakeContextCurrent(window);
    if (glfwGetCurrentContext() != window) {
        const char* description = nullptr;
        glfwGetError(&description);
        return fail("Can't Activate The GL Rendering Context", contextFailure(description));
    }
    if (shown) {
        glfwSetWindowUserPointer(window, this);
        glfwSetKeyCallback(window, [](GLFWwindow* w, int key, int scancode, int action, int) {
            owner(w).onKey(key, scancode, action);
        });
        glfwSetMouseButtonCallback(
            window, [](GLFWwindow* w, int button, int action, int) { owner(w).onButton(button, action); });
        glfwSetCursorPosCallback(window, [](GLFWwindow* w, double x, double y) { owner(w).onCursor(x, y); });
        glfwSetScrollCallback(window, [](GLFWwindow* w, double, double offset) { owner(w).onScroll(offset); });
        glfwShowWindow(window);  // also takes the keyboard focus
    }
    initGL();
    return true;
}

bool Visualize::fail(const char* message, std::string cause)
{
    killGLWindow();
    lastError = message;
    lastCause = std::move(cause);
    return false;
}

void Visualize::initGL()
{
    glShadeModel(GL_SMOOTH);

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);

    if (height == 0)
        height = 1;
    glViewport(0, 0, width, height);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfView, static_cast<double>(width) / static_cast<double>(height), kNearPlane, kFarPlane);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);

    gluQuadricDrawStyle(quadric, GLU_FILL);

    const GLfloat lightAmbient[] = {0.1f, 0.1f, 0.1f, 1.0f};
    const GLfloat lightDiffuse[] = {0.4f, 0.4f, 0.4f, 1.0f};
    const GLfloat lightSpecular[] = {1.0f, 1.0f, 1.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_AMBIENT, lightAmbient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, lightSpecular);
    glEnable(GL_LIGHT0);

    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);

    const GLfloat white[] = {1.0f, 1.0f, 1.0f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20.0f);

    glEnable(GL_LIGHTING);
    glEnable(GL_COLOR_MATERIAL);

    camera = Camera{};
    turning = true;
    held[0] = 1.0;
    held[1] = held[2] = held[3] = 0.0;
}

void Visualize::killGLWindow()
{
    // The sphere's list goes with the context it was made in.
    if (window != nullptr || offscreen.isOpen())
        scene.release();
    if (window != nullptr) {
        glfwMakeContextCurrent(nullptr);
        glfwDestroyWindow(window);
        window = nullptr;
    }
    offscreen.release();
}

void Visualize::setCaption(const std::string& caption)
{
    if (window != nullptr)
        glfwSetWindowTitle(window, caption.c_str());
}

void Visualize::setBackground(float red, float green, float blue, float alpha)
{
    glClearColor(red, green, blue, alpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

std::size_t Visualize::runLoop(const Surface& result, const DrawSettings& draw, std::size_t frameLimit)
{
    std::size_t frames = 0;
    if (window == nullptr)
        return frames;
    homeAngle = camera.angle;
    homeTranslation = camera.translation;
#ifdef __GLIBC__
    // A software GL driver takes and frees megabytes every frame; heap the
    // allocator gives back to the kernel comes back zeroed, page by page,
    // at a fifth of the frame's time. A pad keeps that much at hand.
    mallopt(M_TOP_PAD, kHeapPad);
#endif
    // Only X11 can tell whether events wait without handling them; without
    // it every pass handles events and then draws.
    Display* display = glfwGetX11Display();
    while (!glfwWindowShouldClose(window)) {
        if (display != nullptr && XPending(display) > 0) {
            glfwPollEvents();
            continue;
        }
        if (display == nullptr)
            glfwPollEvents();
        if (turning || changed) {
            changed = false;
            renderFrame(result, draw);
            if (++frames == frameLimit)
                break;
        } else {
            // Paused, and the frame shown is up to date: nothing to draw
            // until something happens, exposure included.
            glfwWaitEvents();
            changed = true;
        }
    }
    return frames;
}

void Visualize::onKey(int key, int scancode, int action)
{
    if (action != GLFW_PRESS)
        return;
    // Letters by what the keyboard layout prints on the key, not by where
    // the key sits.
    const char* name = glfwGetKeyName(key, scancode);
    const char letter = name != nullptr && name[0] != '\0' && name[1] == '\0' ? name[0] : '\0';
    if (key == GLFW_KEY_ESCAPE || letter == 'q')
        glfwSetWindowShouldClose(window, GLFW_TRUE);
    else if (key == GLFW_KEY_SPACE)
        turning = !turning;
    else if (letter == 'r')
        goHome();
    changed = true;
}

void Visualize::onButton(int button, int action)
{
    if (action == GLFW_PRESS && dragButton < 0)
        dragButton = button;
    else if (action == GLFW_RELEASE && button == dragButton)
        dragButton = -1;
}

void Visualize::onCursor(double x, double y)
{
    // Each move is measured from the one before it, in the order the events
    // came, not from where the pointer is by the time they are handled.
    const double right = cursorKnown ? x - cursorX : 0.0;
    const double down = cursorKnown ? y - cursorY : 0.0;
    cursorX = x;
    cursorY = y;
    cursorKnown = true;
    if (dragButton == GLFW_MOUSE_BUTTON_LEFT) {
        turning = false;
        turnBy(right, down);
        changed = true;
    } else if (dragButton == GLFW_MOUSE_BUTTON_RIGHT || dragButton == GLFW_MOUSE_BUTTON_MIDDLE) {
        // So that the point at the turning centre follows the pointer.
        const double distance = std::max(-camera.translation.z, kNearPlane);
        const double perPixel = 2.0 * distance * std::tan(kFieldOfView * kPi / 360.0) / height;
        camera.translation.x += right * perPixel;
        camera.translation.y -= down * perPixel;
        changed = true;
    }
}

void Visualize::onScroll(double offset)
{
    // A share of the distance per notch, so zooming feels the same at any
    // scale; never quite down to nothing.
    camera.translation.z += offset * kZoomStep * std::max(std::abs(camera.translation.z), kNearPlane);
    changed = true;
}

void Visualize::turnBy(double right, double down)
{
    const double length = std::hypot(right, down);
    if (length == 0.0)
        return;
    // Dragged across the frame's shorter side, the model turns half a turn,
    // its near side following the pointer.
    const double half = 0.5 * length * kPi / std::min(width, height);
    const double s = std::sin(half) / length;
    const double step[4] = {std::cos(half), down * s, right * s, 0.0};
    const double w = step[0] * held[0] - step[1] * held[1] - step[2] * held[2] - step[3] * held[3];
    const double x = step[0] * held[1] + step[1] * held[0] + step[2] * held[3] - step[3] * held[2];
    const double y = step[0] * held[2] - step[1] * held[3] + step[2] * held[0] + step[3] * held[1];
    const double z = step[0] * held[3] + step[1] * held[2] - step[2] * held[1] + step[3] * held[0];
    // Renormalised every step, or many small drags would drift off a rotation.
    const double norm = std::sqrt(w * w + x * x + y * y + z * z);
    held[0] = w / norm;
    held[1] = x / norm;
    held[2] = y / norm;
    held[3] = z / norm;

    const double qw = held[0];
    const double qx = held[1];
    const double qy = held[2];
    const double qz = held[3];
    const double columns[16] = {1 - 2 * (qy * qy + qz * qz),
                                2 * (qx * qy + qw * qz),
                                2 * (qx * qz - qw * qy),
                                0,
                                2 * (qx * qy - qw * qz),
                                1 - 2 * (qx * qx + qz * qz),
                                2 * (qy * qz + qw * qx),
                                0,
                                2 * (qx * qz + qw * qy),
                                2 * (qy * qz - qw * qx),
                                1 - 2 * (qx * qx + qy * qy),
                                0,
                                0,
                                0,
                                0,
                                1};
    std::copy(columns, columns + 16, camera.held.begin());
    camera.holding = true;
}

void Visualize::goHome()
{
    // Paused, the next frame does not step, so it is given the first
    // frame's angle itself.
    camera.angle = turning ? homeAngle : nextAngle(homeAngle);
    camera.translation = homeTranslation;
    held[0] = 1.0;
    held[1] = held[2] = held[3] = 0.0;
    camera.holding = false;
}

void Visualize::renderFrame(const Surface& result, const DrawSettings& draw)
{
    drawFrame(result, draw);
    if (window != nullptr)
        glfwSwapBuffers(window);
    else
        glFlush();
}

void Visualize::prepare(const Surface& result)
{
    if (!scene.builtFor(result, framing))
        scene.build(result, framing, quadric);
}

void Visualize::drawFrame(const Surface& result, const DrawSettings& draw)
{
    if (turning)
        camera.angle = nextAngle(camera.angle);
    prepare(result);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    const Matrix4 view = camera.modelView();
    glLoadMatrixd(view.data());

    if (draw.dots && scene.pointCount() > 0) {
        glColor3d(kPointColour[0], kPointColour[1], kPointColour[2]);
        const double across = pointPixels();
        if (across >= kSmallestSphere && scene.sphere() != 0) {
            for (std::size_t i = 0; i < scene.pointCount(); ++i) {
                const float* p = scene.position(i);
                glPushMatrix();
                glTranslatef(p[0], p[1], p[2]);
                glCallList(scene.sphere());
                glPopMatrix();
            }
        } else {
            drawRoundPoints(across);
        }
    }
    if (draw.tri && scene.hasFaces()) {
        glColor3d(0.2, 0.4, 0.8);
        // As stored: the normals are neither normalised here nor by GL.
        scene.drawFaces();
    }
    if (draw.mesh && scene.hasEdges()) {
        glColor3d(0.0, 0.1, 0.3);
        glDisable(GL_LIGHTING);
        if (draw.tri && scene.hasFaces()) {
            // The faces hide most sides: the renderer draws them while the
            // sides that can still show are picked.
            glFlush();
            int drawnWidth = width;
            int drawnHeight = height;
            if (window != nullptr)
                glfwGetFramebufferSize(window, &drawnWidth, &drawnHeight);
            scene.drawEdgesInFront(view, std::min<int>(drawnWidth, width), std::min<int>(drawnHeight, height));
        } else {
            scene.drawEdges();
        }
        glEnable(GL_LIGHTING);
    }
    glDisableClientState(GL_VERTEX_ARRAY);
}

double Visualize::pointPixels() const
{
    const double depth = -camera.translation.z;
    if (!(depth > 0.0))
        return kSmallestSphere;
    const double focal = 1.0 / std::tan(kFieldOfView * kPi / 360.0);
    return 2.0 * framing.pointRadius * focal * 0.5 * height / depth;
}

void Visualize::drawRoundPoints(double across)
{
    // Unlit, in the colour a lit sphere that small averages to over its
    // disc: its facing half catches two thirds of the light on average and
    // its highlight covers about a tenth of it.
    GLfloat size = 1.0f;
    glGetFloatv(GL_POINT_SIZE, &size);
    glDisable(GL_LIGHTING);
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPointSize(static_cast<GLfloat>(std::max(across, 1.0)));
    const double lit = 0.2 + 0.1 + 0.4 * 2.0 / 3.0;
    const double highlight = 1.0 / 11.0;
    glColor3d(std::min(kPointColour[0] * lit + highlight, 1.0), std::min(kPointColour[1] * lit + highlight, 1.0),
              std::min(kPointColour[2] * lit + highlight, 1.0));
    scene.drawPoints();
    glPointSize(size);
    glDisable(GL_BLEND);
    glDisable(GL_POINT_SMOOTH);
    glEnable(GL_LIGHTING);
}

std::vector<unsigned char> Visualize::readPixels() const
{
    std::vector<unsigned char> pixels;
    if (window == nullptr && !offscreen.isOpen())
        return pixels;
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    std::vector<unsigned char> bottomUp(row * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    pixels.resize(bottomUp.size());
    for (std::size_t y = 0; y < height; ++y)
        std::copy_n(bottomUp.data() + (height - 1 - y) * row, row, pixels.data() + y * row);
    return pixels;
}
