// The whole program after its report: the snapshot, batch mode and the
// window, run as a user runs them and judged by the pixels they produce.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const std::string kTorus = std::string(TRI3D_SOURCE_DIR) + "/samples/torus.xyz";
const std::string kSphere = std::string(TRI3D_SOURCE_DIR) + "/samples/sphere.xyz";  // radius 30 about the origin

// The sample sphere scaled to the given diameter and moved by offset, written
// with every digit a double holds.
std::string movedSphere(const std::string& name, double diameter, CGVector offset)
{
    std::ifstream in(kSphere);
    std::ostringstream text;
    double p[6];
    while (in >> p[0] >> p[1] >> p[2] >> p[3] >> p[4] >> p[5]) {
        char line[200];
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g %g %g %g\n", p[0] * diameter / 60 + offset.x,
                      p[1] * diameter / 60 + offset.y, p[2] * diameter / 60 + offset.z, p[3], p[4], p[5]);
        text << line;
    }
    return writeTempFile(name, text.str());
}

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

    // Real input, as a person gives it: XTEST makes the server itself
    // produce the events, so they reach whichever window has the pointer
    // or the focus. x and y are in the window's own pixels.
    void movePointer(Window window, int x, int y) const
    {
        int rootX = 0;
        int rootY = 0;
        Window child = 0;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
        XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
        XFlush(display);
    }

    void button(unsigned number, bool down) const
    {
        XTestFakeButtonEvent(display, number, down ? True : False, CurrentTime);
        XFlush(display);
    }

    void typeKey(KeySym key) const
    {
        const KeyCode code = XKeysymToKeycode(display, key);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
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
// around, checks the console lines and hands back the picture; what went to
// standard error goes to errors, and without errors there must be none.
Image snapshot(std::vector<std::string> words, const std::string& file = kTorus, std::string* errors = nullptr)
{
    const std::string png = tempPath("snapshot.png");
    words.insert(words.begin(), {"file:" + file, "shot:" + png});
    const Finished run = runTri3d(words);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(endsWith(run.output, " milliseconds\n  Writing snapshot to file... Done!\n")) << run.output;
    if (errors != nullptr)
        *errors = run.errors;
    else
        EXPECT_EQ(run.errors, "");
    Image image = readPng(png);
    EXPECT_EQ(image.width, 800);
    EXPECT_EQ(image.height, 600);
    return image;
}

struct Box {
    int left = 800, top = 600, right = -1, bottom = -1;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// The smallest box around every pixel that is not the background.
Box drawnBox(const Image& image, Pixel background)
{
    Box box;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const Pixel p = image.at(x, y);
            if (p.r != background.r || p.g != background.g || p.b != background.b) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
        }
    return box;
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

TEST(Snapshot, StartAngleZeroAndNoFitKeepTheDefaultFrame)
{
    const Image plain = snapshot({});
    EXPECT_EQ(snapshot({"angle:0", "fit:0"}).rgb, plain.rgb);
    EXPECT_NE(snapshot({"angle:90"}).rgb, plain.rgb);
}

TEST(Snapshot, FitFillsTheFrameWithTinyHugeAndFarOffModels)
{
    // A micrometre and ten kilometres across, a hundred kilometres out, and
    // a rabbit-sized one at scanner coordinates, where a float step is half
    // a unit: each must come out as the same centred disc.
    const std::string models[] = {
        movedSphere("tiny.xyz", 1e-6, {1e5, 0.0, 0.0}),
        movedSphere("huge.xyz", 1e4, {1e5, 0.0, 0.0}),
        movedSphere("far.xyz", 0.15, {5e5, 5.4e6, 0.0}),
    };
    for (const std::string& model : models) {
        const Image image = snapshot({"fit:1", "tri:1", "dots:0", "mesh:0"}, model);
        const Box box = drawnBox(image, {0, 0, 0});
        EXPECT_GT(box.height(), 0.75 * 600) << model;
        EXPECT_LT(box.height(), 0.85 * 600) << model;
        EXPECT_NEAR(box.left + box.right, 800, 20) << model;
        EXPECT_NEAR(box.top + box.bottom, 600, 20) << model;
        EXPECT_GT(image.count(isFaceBlue), 800u * 600u / 4) << model;
    }
}

TEST(Snapshot, ModelOutOfViewGetsAHintOnStandardError)
{
    std::string errors;
    snapshot({}, movedSphere("speck.xyz", 1e-6, {}), &errors);
    EXPECT_EQ(errors, "  -  The model is out of view: the first frame shows it less than a pixel across; "
                      "fit:1 centres and scales it to fill the frame\n");
}

TEST(Snapshot, OnlyANameEndingInPngIsWritten)
{
    const std::string jpg = tempPath("picture.jpg");
    const Finished run = runTri3d({"file:" + kTorus, "shot:" + jpg});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        endsWith(run.output, "  Writing snapshot to file... Failed!\n  -  Error writing file \"" + jpg + "\"\n"))
        << run.output;
    EXPECT_NE(run.errors.find(".png"), std::string::npos) << run.errors;
    EXPECT_FALSE(std::filesystem::exists(jpg));

    const std::string upper = tempPath("PICTURE.PNG");
    EXPECT_EQ(runTri3d({"file:" + kTorus, "shot:" + upper, "dots:0"}).exitCode, 0);
    EXPECT_EQ(readPng(upper).width, 800);
}

TEST(Snapshot, UnwritableFileFailsAndLeavesNothing)
{
    const std::string folder = tempPath("no-such-folder");
    const std::string png = folder + "/s.png";
    const Finished run = runTri3d({"file:" + kTorus, "shot:" + png});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        endsWith(run.output, "  Writing snapshot to file... Failed!\n  -  Error writing file \"" + png + "\"\n"))
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
    const Finished run =
        runTri3d({"file:" + kTorus, "shot:" + png}, server.display(), {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent"});
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
    EXPECT_EQ(
        run.errors,
        "  -  No display (DISPLAY is not set): use view:0 to skip the window, or shot:<file.png> for a picture\n");
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

    x.requestClose(window);
    int exitCode = -1;
    ASSERT_TRUE(program.waitForExit(5.0, exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(endsWith(program.output(), " milliseconds\n")) << program.output();
}

TEST(Window, FramesClosesItAfterThatManyAndTellsTheRate)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    const Finished run = runTri3d({"file:" + kTorus, "frames:3"}, server.display());
    ASSERT_TRUE(run.exited) << "the window did not close itself";
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    std::istringstream lines(run.errors);
    std::string line;
    bool told = false;
    while (std::getline(lines, line)) {
        double seconds = -1.0;
        double rate = -1.0;
        char tail = '\0';
        if (std::sscanf(line.c_str(), "tri3d: 3 frames in %lf s (%lf fps%c", &seconds, &rate, &tail) == 3) {
            told = tail == ')' && seconds > 0.0 && std::abs(rate * seconds - 3.0) < 0.1;
        }
    }
    EXPECT_TRUE(told) << run.errors;
}

// Waits until the window shows the same picture for a whole second, and
// returns it; an empty one if it never holds still that long. A turning
// scene this small draws many frames a second even on a busy machine.
Image stillPicture(const XClient& x, Window window)
{
    Image still = x.pixels(window);
    int same = 0;
    for (int look = 0; look < 40 && same < 5; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Image now = x.pixels(window);
        same = now.rgb == still.rgb ? same + 1 : 0;
        still = std::move(now);
    }
    return same < 5 ? Image{} : still;
}

TEST(Window, TakesTheMouseAndKeys)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    XClient x(server.display());
    ASSERT_NE(x.display, nullptr);
    int major = 0;
    int minor = 0;
    int event = 0;
    int error = 0;
    ASSERT_TRUE(XTestQueryExtension(x.display, &event, &error, &major, &minor));

    // Every eighth point of the torus: quick frames, so a still picture
    // means a paused scene, not a slow one.
    std::ifstream torus(kTorus);
    std::string sparse;
    std::string line;
    for (int i = 0; std::getline(torus, line); ++i)
        if (i % 8 == 0)
            sparse += line + "\n";
    TestProcess program({TRI3D_BINARY, "file:" + writeTempFile("sparse.xyz", sparse)},
                        displayEnvironment(server.display()));
    Window window = 0;
    ASSERT_TRUE(eventually(20.0, [&] { return (window = x.findByClass("OpenGL")) != 0 || !program.running(); }));
    ASSERT_NE(window, 0u) << program.output();
    ASSERT_TRUE(eventually(5.0, [&] { return x.caption(window) == "Triangulation in 3D"; }));
    ASSERT_TRUE(eventually(10.0, [&] { return x.pixels(window).count(isPointGreen) > 2000; }));
    EXPECT_NE(program.errors().find("space to pause"), std::string::npos) << program.errors();

    // Space stops the turning: the picture holds still.
    x.movePointer(window, 400, 300);
    x.typeKey(XK_space);
    const Image paused = stillPicture(x, window);
    ASSERT_FALSE(paused.rgb.empty()) << "the scene keeps turning after space";

    // A left drag turns the model.
    const auto drag = [&] {
        x.movePointer(window, 400, 300);
        x.button(1, true);
        for (int step = 1; step <= 8; ++step)
            x.movePointer(window, 400 + 15 * step, 300 + 5 * step);
        x.button(1, false);
    };
    drag();
    EXPECT_TRUE(eventually(5.0, [&] { return x.pixels(window).rgb != paused.rgb; })) << "the drag changed nothing";

    // Space again resumes the turning; a drag then pauses it.
    const Image resumed = stillPicture(x, window);
    ASSERT_FALSE(resumed.rgb.empty()) << "the scene turns again after the drag";
    x.typeKey(XK_space);
    EXPECT_TRUE(eventually(5.0, [&] { return x.pixels(window).rgb != resumed.rgb; })) << "space did not resume";
    drag();
    const Image dragged = stillPicture(x, window);
    ASSERT_FALSE(dragged.rgb.empty()) << "the scene keeps turning after a drag";

    // The wheel (buttons 4 and 5) zooms.
    x.button(4, true);
    x.button(4, false);
    EXPECT_TRUE(eventually(5.0, [&] { return x.pixels(window).rgb != dragged.rgb; })) << "the wheel changed nothing";

    // Escape ends the program as the close box does.
    x.typeKey(XK_Escape);
    int exitCode = -1;
    ASSERT_TRUE(program.waitForExit(5.0, exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(endsWith(program.output(), " milliseconds\n")) << program.output();
}

}  // namespace
