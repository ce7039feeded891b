#include "app/Run.h"

#include "geometry/Surface.h"
#include "viewer/Framing.h"
#include "viewer/PngFile.h"
#include "viewer/Visualize.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <iomanip>
#include <ostream>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kBits = 32;
// A model drawn less than this many pixels across shows as a dot: its shape
// cannot be made out.
constexpr double kFewPixels = 16.0;

DrawSettings drawSettings(const Settings& settings)
{
    DrawSettings draw;
    draw.dots = settings.dots;
    draw.mesh = settings.mesh;
    draw.tri = settings.tri;
    return draw;
}

// The view the first frame starts from. A fitted model is centred and
// scaled before the shifts, so zoom, transx and transy keep their meaning in
// the fitted view's units.
void placeView(Visualize& visualize, const Surface& result, const Settings& settings)
{
    visualize.camera.translation.z += settings.zoom;
    visualize.camera.translation.x += settings.transx;
    visualize.camera.translation.y += settings.transy;
    if (settings.fit)
        visualize.framing = fitFraming(result.positions);
    // An angle that is no number counts as none; one beyond a turn is
    // brought within one, where the turning keeps it.
    if (std::isfinite(settings.angle))
        visualize.camera.angle = std::fmod(settings.angle, 360.0);
}

// A model that the first frame shows as a speck, or not at all, looks like a
// failed run; the fitted view is the way out.
void hintWhenOutOfView(const Visualize& visualize, const Surface& result, const Settings& settings, std::ostream& err)
{
    if (settings.fit || result.positions.empty())
        return;
    Camera first = visualize.camera;
    first.angle = nextAngle(first.angle);
    const double shown =
        pixelsShown(result.positions, visualize.framing, first, visualize.frameWidth(), visualize.frameHeight());
    if (shown >= kFewPixels)
        return;
    err << "  -  The model is out of view: the first frame shows ";
    if (shown == 0.0)
        err << "none of it";
    else if (shown < 1.0)
        err << "it less than a pixel across";
    else
        err << "it only " << static_cast<int>(shown) << " pixels across";
    err << "; fit:1 centres and scales it to fill the frame" << std::endl;
}

// What the user can do instead, after the failed step's own message.
std::string wayOut(const Visualize& visualize, const char* unknown)
{
    return "  -  " + (visualize.lastCause.empty() ? std::string(unknown) : visualize.lastCause);
}

bool namesPng(const std::string& fileName)
{
    if (fileName.size() < 4)
        return false;
    std::string tail = fileName.substr(fileName.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

// Filled faces are lit blue and read best on black; points and lines on white.
void chooseBackground(Visualize& visualize, const Settings& settings)
{
    if (settings.tri)
        visualize.setBackground(0.0f, 0.0f, 0.0f, 0.0f);
    else
        visualize.setBackground(1.0f, 1.0f, 1.0f, 0.0f);
}

int showWindow(const Surface& result, const Settings& settings, std::ostream& out, std::ostream& err)
{
    Visualize visualize;
    if (!visualize.createGLWindow(kWidth, kHeight, kBits)) {
        // Nothing could end the loop without a window, so it is not entered.
        out << visualize.lastError << std::endl;
        err << wayOut(visualize, "No window could be opened")
            << ": use view:0 to skip the window, or shot:<file.png> for a picture" << std::endl;
        return 1;
    }
    placeView(visualize, result, settings);
    visualize.setCaption("Triangulation in 3D");
    chooseBackground(visualize, settings);
    hintWhenOutOfView(visualize, result, settings, err);
    err << "  Window: drag to turn, right-drag to move, wheel to zoom, space to pause, r to reset, q or Esc to close"
        << std::endl;
    visualize.prepare(result);
    const auto started = std::chrono::steady_clock::now();
    const std::size_t frames = visualize.runLoop(result, drawSettings(settings), settings.frames);
    if (settings.frames > 0) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        err << "tri3d: " << frames << " frames in " << std::fixed << std::setprecision(2) << seconds << " s ("
            << std::setprecision(1) << (seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0) << " fps)"
            << std::defaultfloat << std::endl;
    }
    return 0;
}

// The window's first frame, drawn where no one needs to see a window.
int writeSnapshot(const Surface& result, const Settings& settings, std::ostream& out, std::ostream& err)
{
    // Checked before any drawing: PNG data under another name would mislead
    // every program that opens the file.
    if (!namesPng(settings.shot)) {
        out << "  Writing snapshot to file... Failed!" << std::endl;
        out << "  -  Error writing file \"" << settings.shot << '"' << std::endl;
        err << "  -  A snapshot is a PNG picture: give it a name ending in .png" << std::endl;
        return 1;
    }
    Visualize visualize;
    if (!visualize.createOffscreenGL(kWidth, kHeight, kBits)) {
        out << visualize.lastError << std::endl;
        err << wayOut(visualize, "No GL could be had")
            << ", and EGL offers no GL without one: use view:0 to skip the picture" << std::endl;
        return 1;
    }
    placeView(visualize, result, settings);
    chooseBackground(visualize, settings);
    hintWhenOutOfView(visualize, result, settings, err);

    out << "  Writing snapshot to file... " << std::flush;
    visualize.drawFrame(result, drawSettings(settings));
    if (!writePng(settings.shot, visualize.frameWidth(), visualize.frameHeight(), visualize.readPixels())) {
        out << "Failed!" << std::endl;
        out << "  -  Error writing file \"" << settings.shot << '"' << std::endl;
        return 1;
    }
    out << "Done!" << std::endl;
    return 0;
}

}  // namespace

int showResult(const Surface& result, const Settings& settings, std::ostream& out, std::ostream& err)
{
    if (!settings.shot.empty())
        return writeSnapshot(result, settings, out, err);
    if (!settings.view)
        return 0;
    return showWindow(result, settings, out, err);
}
