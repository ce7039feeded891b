#include "app/Run.h"

#include "app/Console.h"
#include "app/Stopwatch.h"
#include "io/MeshWriter.h"
#include "mesh/Reconstruct.h"
#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"
#include "normals/NormalEstimation.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

namespace {

std::string counted(std::uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One line per reason a line or vertex was passed over.
void printSkipped(const PointReadReport& read, std::ostream& err)
{
    const bool ply = read.layout == PointLayout::ply;
    auto line = [&err](const Skipped& skipped, const std::string& what, const std::string& where) {
        if (skipped.count > 0)
            err << "tri3d: skipped " << what << " (first: " << where << ' ' << skipped.first << ')' << std::endl;
    };
    line(read.fewerThanSix, counted(read.fewerThanSix.count, "line with", "lines with") + " fewer than six numbers",
         "line");
    line(read.notThreeNumbers,
         counted(read.notThreeNumbers.count, "line that is", "lines that are") +
             " neither six nor three numbers separated by spaces", "line");
    if (ply)
        line(read.notFinite,
             counted(read.notFinite.count, "vertex", "vertices") + " whose position is not finite", "vertex");
    else
        line(read.notFinite, counted(read.notFinite.count, "line", "lines") + " whose position is not finite",
             "line");
}

void printNormals(const LoadOptions& options, const LoadReport& report, std::size_t points, std::ostream& err)
{
    if (report.estimated > 0) {
        const char* why = options.normals == NormalSource::estimate ? "as normals:estimate asks"
                          : report.read.hasNormals                  ? "every normal in the file is zero"
                                                                    : "the file has none";
        err << "tri3d: normals estimated for " << counted(report.estimated, "point", "points") << " from "
            << std::min<std::size_t>(options.neighbours, report.estimated) << " neighbours each (" << why << "), in "
            << std::lround(report.estimateMilliseconds) << " ms" << std::endl;
    } else if (points > 0 && !report.read.hasNormals) {
        err << "tri3d: the file has no normals, so every normal is zero (normals:auto would estimate them)"
            << std::endl;
    }
}

}  // namespace

int run(const Settings& settings, std::ostream& out, std::ostream& err)
{
    if (settings.file.empty()) {
        printUsage(out);
        printMoreOptions(err);
        return 0;
    }

    LoadOptions options;
    if (settings.normals == "file") {
        options.normals = NormalSource::file;
    } else if (settings.normals == "estimate") {
        options.normals = NormalSource::estimate;
    } else {
        options.normals = NormalSource::automatic;
        if (settings.normals != "auto")
            err << "tri3d: normals:" << settings.normals << " is none of auto, file, estimate; using auto" << std::endl;
    }
    const long fewest = kFewestNeighbours;
    const long most = kMostNeighbours;
    options.neighbours = static_cast<unsigned>(std::clamp(settings.neighbours, fewest, most));
    if (settings.neighbours != static_cast<long>(options.neighbours))
        err << "tri3d: neighbours:" << settings.neighbours << " is out of " << fewest << " to " << most << "; using "
            << options.neighbours << std::endl;

    Reconstruct reconstruct;
    LoadReport report;
    out << "  Adding vertices from file... " << std::flush;
    if (!reconstruct.loadNodes(settings.file, options, report)) {
        out << "Failed!" << std::endl;
        out << "  -  Error loading file \"" << settings.file << '"' << std::endl;
        if (!report.read.problem.empty())
            err << "tri3d: " << report.read.problem << std::endl;
        return 1;
    }
    out << "Done!" << std::endl;
    out << "  |P| = " << reconstruct.nodes.size() << std::endl;
    printSkipped(report.read, err);
    printNormals(options, report, reconstruct.nodes.size(), err);
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
    // The surface's arrays take the place of the search index, not more.
    reconstruct.releaseIndex();
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
