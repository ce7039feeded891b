#include "app/Run.h"

#include "geometry/Surface.h"
#include "viewer/PngFile.h"
#include "viewer/Visualize.h"

#include <ostream>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kBits = 32;

DrawSettings drawSettings(const Settings& settings)
{
    DrawSettings draw;
    draw.dots = settings.dots;
    draw.mesh = settings.mesh;
    draw.tri = settings.tri;
    return draw;
}

void shiftView(Visualize& visualize, const Settings& settings)
{
    visualize.translation.z += settings.zoom;
    visualize.translation.x += settings.transx;
    visualize.translation.y += settings.transy;
}

// Filled faces are lit blue and read best on black; points and lines on white.
void chooseBackground(Visualize& visualize, const Settings& settings)
{
    if (settings.tri)
        visualize.setBackground(0.0f, 0.0f, 0.0f, 0.0f);
    else
        visualize.setBackground(1.0f, 1.0f, 1.0f, 0.0f);
}

int showWindow(const Surface& result, const Settings& settings, std::ostream& out)
{
    Visualize visualize;
    if (!visualize.createGLWindow(kWidth, kHeight, kBits)) {
        // Nothing could end the loop without a window, so it is not entered.
        out << visualize.lastError << std::endl;
        return 1;
    }
    shiftView(visualize, settings);
    visualize.setCaption("Triangulation in 3D");
    chooseBackground(visualize, settings);
    visualize.runLoop(result, drawSettings(settings));
    return 0;
}

// The window's first frame, drawn where no one needs to see a window.
int writeSnapshot(const Surface& result, const Settings& settings, std::ostream& out)
{
    Visualize visualize;
    if (!visualize.createOffscreenGL(kWidth, kHeight, kBits)) {
        out << visualize.lastError << std::endl;
        return 1;
    }
    shiftView(visualize, settings);
    chooseBackground(visualize, settings);

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

int showResult(const Surface& result, const Settings& settings, std::ostream& out, std::ostream& /*err*/)
{
    if (!settings.shot.empty())
        return writeSnapshot(result, settings, out);
    if (!settings.view)
        return 0;
    return showWindow(result, settings, out);
}
