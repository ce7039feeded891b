#include "app/Run.h"

#include "app/Console.h"
#include "app/ProgressDisplay.h"
#include "app/Stopwatch.h"
#include "geometry/Progress.h"
#include "io/MeshWriter.h"
#include "mesh/Reconstruct.h"

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

namespace {

class Settle {
public:
    explicit Settle(ProgressDisplay* display) : display_(display) {}
    // The progress text goes before the report goes on.
    void operator()() const
    {
        if (display_ != nullptr)
            display_->settle();
    }

private:
    ProgressDisplay* display_;  // not owned; null without a display
};

int runJob(const Settings& settings, std::ostream& out, std::ostream& err, Progress& progress, const Settle& settle)
{
    Reconstruct reconstruct;
    reconstruct.progress = &progress;
    out << "  Adding vertices from file... " << std::flush;
    const bool loaded = reconstruct.loadNodes(settings.file);
    settle();
    if (!loaded) {
        out << "Failed!" << std::endl;
        out << "  -  Error loading file \"" << settings.file << '"' << std::endl;
        return 1;
    }
    out << "Done!" << std::endl;
    out << "  |P| = " << reconstruct.nodes.size() << std::endl;
    out << "  Vertex Candidate Search Algorithm: " << (settings.kd ? "KD-tree" : "Linear") << std::endl;

    out << "  Triangulation in progress... " << std::flush;
    startTimer();
    reconstruct.triangulate(settings.kd);
    settle();
    // The interval deliberately includes writing this line, as it always has.
    out << "Done!" << std::endl;
    out << "  - Time: " << elapsedMilliseconds() << " milliseconds" << std::endl;

    // Without a file, a window or a picture to make, nothing reads the surface.
    if (settings.out.empty() && settings.shot.empty() && !settings.view)
        return 0;
    const Surface surface = reconstruct.surface();
    if (!settings.out.empty()) {
        out << "  Writing mesh to file... " << std::flush;
            const bool written = writeMesh(settings.out, surface, &progress);
        settle();
        if (!written) {
            out << "Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            return 1;
        }
        out << "Done!" << std::endl;
            out << "  |T| = " << reconstruct.triangles.size() << std::endl;
    }

    return showResult(surface, settings, out, err);
}

bool showsProgress(const Settings& settings)
{
    return settings.progress > 0 || (settings.progress < 0 && ::isatty(STDERR_FILENO));
}

}  // namespace

int run(const Settings& settings, std::ostream& out, std::ostream& err)
{
    if (settings.file.empty()) {
        printUsage(out);
        printMoreOptions(err);
        return 0;
    }

    // The engine counts whether or not anyone watches, so a run costs the
    // same either way.
    Progress progress;
    std::unique_ptr<ProgressDisplay> display;
    if (showsProgress(settings))
        display = std::make_unique<ProgressDisplay>(progress, STDERR_FILENO, ::isatty(STDERR_FILENO) != 0);
    const Settle settle(display.get());
    return runJob(settings, out, err, progress, settle);
}
