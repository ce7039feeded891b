#include "app/Run.h"

#include "app/Console.h"
#include "app/Stopwatch.h"
#include "io/MeshWriter.h"
#include "mesh/Reconstruct.h"
#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"

#include <ostream>

int run(const Settings& settings, std::ostream& out, std::ostream& err)
{
    if (settings.file.empty()) {
        printUsage(out);
        printMoreOptions(err);
        return 0;
    }

    Reconstruct reconstruct;
    out << "  Adding vertices from file... " << std::flush;
    if (!reconstruct.loadNodes(settings.file)) {
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
    // The clock stops after this line is written: the time is the whole wait
    // a user sees between "progress..." and "Done!".
    out << "Done!" << std::endl;
    out << "  - Time: " << elapsedMilliseconds() << " milliseconds" << std::endl;

    // Without a file, a window, a picture or a report to make, nothing
    // reads the surface.
    if (settings.out.empty() && settings.shot.empty() && !settings.view && !settings.report)
        return 0;
    Surface surface = reconstruct.surface();
    RepairCounts repaired;
    std::uint64_t repairMilliseconds = 0;
    if (settings.clean) {
        startTimer();
        repaired = repairSurface(surface, settings.holes);
        repairMilliseconds = elapsedMilliseconds();
    }
    if (!settings.out.empty()) {
        out << "  Writing mesh to file... " << std::flush;
        if (!writeMesh(settings.out, surface)) {
            out << "Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            return 1;
        }
        out << "Done!" << std::endl;
        out << "  |T| = " << surface.faces.size() << std::endl;
    }
    if (settings.report) {
        printSurfaceReport(out, reportOn(surface));
        if (settings.clean)
            printRepair(out, repaired, repairMilliseconds);
    }

    return showResult(surface, settings, out, err);
}
