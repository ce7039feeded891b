// The whole program after its report: the snapshot, batch mode and the
// window, run as a user runs them and judged by the pixels they produce.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

const std::string kTorus = std::string(TRI3D_SOURCE_DIR) + "/samples/torus.xyz";

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Everything the tests need to know of an X server.
class XClient {
public:
    explicit XClient(const std::string& name) : display(XOpenDisplay(name.c_str())) {}
    ~XClient()
    {
        if (display != nullptr)
            XCloseDisplay(display);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    // The first top-level window whose class hint is className, or 0.
    Window findByClass(const char* className) const
    {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
            return 0;
        for (unsigned i = 0; i < count && found == 0; ++i) {
            XClassHint hint{nullptr, nullptr};
            if (XGetClassHint(display, children[i], &hint) != 0) {
                if (hint.res_class != nullptr && std::strcmp(hint.res_class, className) == 0)
                    found = children[i];
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
        }
        XFree(children);
        return found;
    }

    std::string caption(Window window) const
    {
        char* name = nullptr;
        std::string text;
        if (XFetchName(display, window, &name) != 0 && name != nullptr) {
            text = name;
            XFree(name);
        }
        return text;
    }

    Image pixels(Window window) const
    {
        XWindowAttributes attributes;
        Image image;
        if (XGetWindowAttributes(display, window, &attributes) == 0)
            return image;
        XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                                 static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
        if (shot == nullptr)
            return image;
        image.width = attributes.width;
        image.height = attributes.height;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                const unsigned long pixel = XGetPixel(shot, x, y);
                image.rgb.push_back(static_cast<unsigned char>((pixel & shot->red_mask) >> 16));
                image.rgb.push_back(static_cast<unsigned char>((pixel & shot->green_mask) >> 8));
                image.rgb.push_back(static_cast<unsigned char>(pixel & shot->blue_mask));
            }
        XDestroyImage(shot);
        return image;
    }

    void pressKey(Window window, KeySym key) const
    {
        XEvent event;
        std::memset(&event, 0, sizeof event);
        event.xkey.type = KeyPress;
        event.xkey.display = display;
        event.xkey.window = window;
        event.xkey.root = DefaultRootWindow(display);
        event.xkey.keycode = XKeysymToKeycode(display, key);
        event.xkey.same_screen = True;
        XSendEvent(display, window, True, KeyPressMask, &event);
        event.xkey.type = KeyRelease;
        XSendEvent(display, window, True, KeyReleaseMask, &event);
        XFlush(display);
    }

    // What a window manager sends when the user clicks the close box.
    void requestClose(Window window) const
    {
        XEvent event;
        std::memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    }

    Display* const display;
};

// Polls until the condition holds or the time is up.
template <typename Condition>
bool eventually(double seconds, Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Renders the torus (or the given file) into a PNG with no display server
// around, checks the console lines and hands back the picture.
Image snapshot(std::vector<std::string> words, const std::string& file = kTorus)
{
    const std::string png = tempPath("snapshot.png");
    words.insert(words.begin(), {"file:" + file, "shot:" + png});
    const Finished run = runTri3d(words);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(endsWith(run.output, " milliseconds\n  Writing snapshot to file... Done!\n")) << run.output;
    Image image = readPng(png);
    EXPECT_EQ(image.width, 800);
    EXPECT_EQ(image.height, 600);
    return image;
}

TEST(Snapshot, DefaultsShowGreenPointsAndDarkBlueLinesOnWhite)
{
    const Image image = snapshot({});
    EXPECT_TRUE(isWhite(image.at(0, 0)));
    EXPECT_TRUE(isWhite(image.at(400, 300)));  // the hole of the torus
    EXPECT_GT(image.count(isWhite), 800u * 600u / 2);
    EXPECT_GT(image.count(isPointGreen), 20000u);
    EXPECT_GT(image.count(isLineBlue), 1000u);
    EXPECT_EQ(image.count(isFaceBlue), 0u);
}

TEST(Snapshot, FilledTrianglesAreBlueOnBlack)
{
    const Image image = snapshot({"tri:1", "dots:0", "mesh:0"});
    EXPECT_TRUE(isBlack(image.at(0, 0)));
    EXPECT_TRUE(isBlack(image.at(400, 300)));
    EXPECT_GT(image.count(isFaceBlue), 20000u);
    EXPECT_EQ(image.count(isPointGreen), 0u);
}

TEST(Snapshot, NothingToDrawLeavesOnlyTheClearColour)
{
    const Image image = snapshot({"dots:0", "mesh:0", "tri:0"});
    EXPECT_EQ(image.count(isWhite), 800u * 600u);
}

TEST(Snapshot, WithoutTrianglesOnlyPointsAppear)
{
    // Two points make no triangle. Brought close (zoom) so each is large.
    const std::string file = writeTempFile("two.xyz", "-5 0 0 0 0 1\n5 0 0 0 0 1\n");
    const Image image = snapshot({"zoom:75", "tri:1"}, file);
    EXPECT_GT(image.count(isPointGreen), 500u);
    EXPECT_EQ(image.count(isFaceBlue), 0u);
    EXPECT_EQ(image.count(isLineBlue), 0u);
    EXPECT_GT(image.count(isBlack), 800u * 600u - 5000u);
}

TEST(Snapshot, UnwritableFileFailsAndLeavesNothing)
{
    const std::string folder = tempPath("no-such-folder");
    const std::string png = folder + "/s.png";
    const Finished run = runTri3d({"file:" + kTorus, "shot:" + png});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(endsWith(run.output, "  Writing snapshot to file... Failed!\n  -  Error writing file \"" + png + "\"\n"))
        << run.output;
}

TEST(Snapshot, ReplacesAnOldFileWithoutLeavingTemporaries)
{
    const std::string png = writeTempFile("old.png", "not a picture");
    const Finished run = runTri3d({"file:" + kTorus, "shot:" + png, "dots:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readPng(png).width, 800);
    // Only the picture itself: nothing named after it with more on the end.
    const std::string name = std::filesystem::path(png).filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(testing::TempDir())) {
        const std::string other = entry.path().filename().string();
        EXPECT_FALSE(other != name && other.rfind(name, 0) == 0) << other;
    }
}

TEST(Snapshot, FallsBackToAHiddenWindowWhereEglOffersNothing)
{
    // Pointing the GL library's EGL loader at no driver leaves the window
    // system as the only way to a context.
    XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    const std::string png = tempPath("fallback.png");
    const Finished run = runTri3d({"file:" + kTorus, "shot:" + png}, server.display(),
                                  {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const Image image = readPng(png);
    EXPECT_GT(image.count(isPointGreen), 20000u);
    EXPECT_GT(image.count(isLineBlue), 1000u);

    XClient x(server.display());
    ASSERT_NE(x.display, nullptr);
    EXPECT_EQ(x.findByClass("OpenGL"), 0u);  // gone again, and never shown
}

TEST(BatchMode, ViewZeroEndsAfterTheReport)
{
    const Finished run = runTri3d({"file:" + kTorus, "view:0"});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(endsWith(run.output, " milliseconds\n")) << run.output;
}

TEST(Window, WithoutDisplayReportsTheFailedStepAndExitsWithOne)
{
    const Finished run = runTri3d({"file:" + kTorus});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(endsWith(run.output, " milliseconds\nFailed To Register The Window Class\n")) << run.output;
}

bool showsTheScene(const Image& image)
{
    return image.count(isWhite) > 800u * 600u / 2 && image.count(isPointGreen) > 20000u &&
           image.count(isLineBlue) > 1000u;
}

TEST(Window, ShowsTheTurningSceneUntilClosed)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    XClient x(server.display());
    ASSERT_NE(x.display, nullptr);

    TestProcess program({TRI3D_BINARY, "file:" + kTorus}, displayEnvironment(server.display()));
    Window window = 0;
    ASSERT_TRUE(eventually(20.0, [&] { return (window = x.findByClass("OpenGL")) != 0 || !program.running(); }));
    ASSERT_NE(window, 0u) << program.output();
    EXPECT_TRUE(eventually(5.0, [&] { return x.caption(window) == "Triangulation in 3D"; })) << x.caption(window);

    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(x.display, window, &attributes), 0);
    EXPECT_EQ(attributes.width, 800);  // no window manager, so no frame
    EXPECT_EQ(attributes.height, 600);
    EXPECT_TRUE(eventually(10.0, [&] { return showsTheScene(x.pixels(window)); }));
    const Image first = x.pixels(window);
    EXPECT_TRUE(eventually(5.0, [&] { return x.pixels(window).rgb != first.rgb; })) << "the scene does not turn";

    // Keys are ignored: Escape does not end the program or stop the drawing.
    x.pressKey(window, XK_Escape);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(showsTheScene(x.pixels(window)));

    x.requestClose(window);
    int exitCode = -1;
    ASSERT_TRUE(program.waitForExit(5.0, exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(endsWith(program.output(), " milliseconds\n")) << program.output();
}

}  // namespace
