#include "viewer/Visualize.h"

#include "geometry/Surface.h"

#include <GL/gl.h>
#include <GL/glu.h>
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

const char* const kInitialCaption = "- K a l o V e r n -";

constexpr double kAngleStep = -0.2;  // degrees per drawn frame
constexpr double kPointRadius = 0.75;
constexpr int kPointSlices = 8;
constexpr int kPointStacks = 8;

// The step at which a window could not be made, told by what GLFW reports.
const char* creationFailure(int code)
{
    switch (code) {
    case GLFW_FORMAT_UNAVAILABLE:
        return "Can't Find a Suitable PixelFormat";
    case GLFW_API_UNAVAILABLE:
    case GLFW_VERSION_UNAVAILABLE:
        return "Can't Create a GL Rendering Context";
    default:
        return "Window Creation Error!";
    }
}

void vertex(const CGVertex& p)
{
    glVertex3d(p.x, p.y, p.z);
}

}  // namespace

Visualize::Visualize() : quadric(gluNewQuadric())
{
}

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
    if (glfwInit() != GLFW_TRUE)
        return fail("Failed To Register The Window Class");

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
    if (window == nullptr)
        return fail(creationFailure(glfwGetError(nullptr)));

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
    if (glfwGetCurrentContext() != window)
        return fail("Can't Activate The GL Rendering Context");
    if (shown)
        glfwShowWindow(window);  // also takes the keyboard focus
    initGL();
    return true;
}

bool Visualize::fail(const char* message)
{
    killGLWindow();
    lastError = message;
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
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), 0.1, 1000.0);

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

    angle = 0.0;
    translation = {0.0, 0.0, -100.0};
}

void Visualize::killGLWindow()
{
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

void Visualize::runLoop(const Surface& result, const DrawSettings& draw)
{
    if (window == nullptr)
        return;
    // Only X11 can tell whether events wait without handling them; without
    // it every pass handles events and then draws.
    Display* display = glfwGetX11Display();
    while (!glfwWindowShouldClose(window)) {
        if (display == nullptr) {
            glfwPollEvents();
            renderFrame(result, draw);
        } else if (XPending(display) > 0)
            glfwPollEvents();
        else
            renderFrame(result, draw);
    }
}

void Visualize::renderFrame(const Surface& result, const DrawSettings& draw)
{
    drawFrame(result, draw);
    if (window != nullptr)
        glfwSwapBuffers(window);
    else
        glFlush();
}

void Visualize::setView() const
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(static_cast<float>(translation.x), static_cast<float>(translation.y),
                 static_cast<float>(translation.z));
    const float turn = static_cast<float>(angle);
    glRotatef(turn, 1.0f, 0.0f, 0.0f);
    glRotatef(turn, 0.0f, 1.0f, 0.0f);
    glRotatef(turn, 0.0f, 0.0f, 1.0f);
}

void Visualize::drawFrame(const Surface& result, const DrawSettings& draw)
{
    // Wrapped so the angle never grows past what a float can step by 0.2:
    // unbounded, the turning would stutter and stop after hours of frames.
    angle = std::fmod(angle + kAngleStep, 360.0);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (draw.dots)
        for (const CGVertex& position : result.positions) {
            glColor3d(0.15, 0.95, 0.45);
            setView();
            glTranslatef(static_cast<float>(position.x), static_cast<float>(position.y),
                         static_cast<float>(position.z));
            gluQuadricDrawStyle(quadric, GLU_FILL);
            gluSphere(quadric, kPointRadius, kPointSlices, kPointStacks);
        }

    for (const Face& face : result.faces) {
        if (draw.tri) {
            glColor3d(0.2, 0.4, 0.8);
            setView();
            glBegin(GL_TRIANGLES);
            for (std::uint32_t corner : face) {
                // As stored: the normals are neither normalised here nor by GL.
                const CGVector& n = result.normals[corner];
                glNormal3d(n.x, n.y, n.z);
                vertex(result.positions[corner]);
            }
            glEnd();
        }
        if (draw.mesh) {
            glColor3d(0.0, 0.1, 0.3);
            for (int i = 0; i < 3; ++i) {
                setView();
                glDisable(GL_LIGHTING);
                glBegin(GL_LINES);
                vertex(result.positions[face[i]]);
                vertex(result.positions[face[(i + 1) % 3]]);
                glEnd();
                glEnable(GL_LIGHTING);
            }
        }
    }
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
