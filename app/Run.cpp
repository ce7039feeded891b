#include "app/Run.h"

#include "app/Console.h"
#include "app/Stopwatch.h"
#include "io/MeshWriter.h"
#include "mesh/Reconstruct.h"

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

    // Without a file, a window or a picture to make, nothing reads the surface.
    if (settings.out.empty() && settings.shot.empty() && !settings.view)
        return 0;
    // The surface's arrays take the place of the search index, not more.
    reconstruct.releaseIndex();
    const Surface surface = reconstruct.surface();
    if (!settings.out.empty()) {
        out << "  Writing mesh to file... " << std::flush;
        if (!writeMesh(settings.out, surface)) {
            out << "Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            return 1;
        }
        out << "Done!" << std::endl;
        out << "  |T| = " << reconstruct.triangles.size() << std::endl;
    }

    return showResult(surface, settings, out, err);
}
