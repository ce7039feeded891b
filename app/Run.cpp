#include "app/Run.h"

#include "app/Console.h"
#include "app/Interrupt.h"
#include "app/Memory.h"
#include "app/PointLoading.h"
#include "app/ProgressDisplay.h"
#include "app/Stopwatch.h"
#include "geometry/Progress.h"
#include "io/MeshWriter.h"
#include "mesh/Reconstruct.h"
#include "repair/SurfaceRepair.h"
#include "normals/NormalEstimation.h"
#include "repair/SurfaceReport.h"
#include "tiles/TiledReconstruct.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>

namespace {

std::string counted(std::uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One line per reason a line or vertex was passed over.
void printSkipped(const PointReadReport& read, std::ostream& err)
{
    const bool ply = read.layout == PointLayout::ply;
    const bool pcd = read.layout == PointLayout::pcd;
    auto line = [&err](const Skipped& skipped, const std::string& what, const std::string& where) {
        if (skipped.count > 0)
            err << "tri3d: skipped " << what << " (first: " << where << ' ' << skipped.first << ')' << std::endl;
    };
    line(read.fewerThanSix, counted(read.fewerThanSix.count, "line with", "lines with") + " fewer than six numbers",
         "line");
    line(read.notThreeNumbers,
         counted(read.notThreeNumbers.count, "line that is", "lines that are") +
             " neither six nor three numbers separated by spaces",
         "line");
    line(read.notNumbers,
         counted(read.notNumbers.count, "line", "lines") + " of six or more words that are not all numbers", "line");
    if (ply)
        line(read.notFinite, counted(read.notFinite.count, "vertex", "vertices") + " whose position is not finite",
             "vertex");
    else if (pcd)
        line(read.notFinite, counted(read.notFinite.count, "point", "points") + " whose position is not finite",
             "point");
    else
        line(read.notFinite, counted(read.notFinite.count, "line", "lines") + " whose position is not finite", "line");
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

unsigned threadsFor(const Settings& settings)
{
    if (settings.threads > 0)
        return static_cast<unsigned>(std::min<std::size_t>(settings.threads, kMostTiles));
    return std::max(1u, std::thread::hardware_concurrency());
}

// What the run was doing, for the line that says memory ran out there.
enum class Step { Reading, Triangulating, Gathering, Repairing, Writing, Reporting, Showing };

struct Job {
    Step step = Step::Reading;
    bool lineOpen = false;  // a report line waits for its "Done!" or "Failed!"
    std::uint64_t points = 0;
};

// Warns when the run is unlikely to fit in the memory it can have. Only a
// hint: the estimate holds for closed surfaces, and the run goes on.
void warnIfShortOfMemory(std::uint64_t points, std::ostream& err)
{
    const std::uint64_t needed = points * kBytesPerPoint;
    const std::uint64_t held = residentBytes();
    const MemoryRoom room = memoryRoom();
    if (!room.known || needed <= held || needed - held <= room.bytes)
        return;
    err << "  Warning: " << groupedCount(points) << " points need about " << roughBytes(needed)
        << " of memory, but only " << roughBytes(held + room.bytes) << " can be had ("
        << (room.addressLimit ? "the address-space limit" : "the memory available") << "); the run may fail."
        << std::endl;
}

std::string outOfMemoryWhile(const Job& job, const Settings& settings, const Progress& progress)
{
    const std::string needed = " (about " + roughBytes(job.points * kBytesPerPoint) + " needed)";
    switch (job.step) {
    case Step::Reading: return "reading \"" + settings.file + '"';
    case Step::Triangulating:
        if (progress.stage() == Progress::Stage::Tree)
            return "building the KD-tree over " + groupedCount(job.points) + " points" + needed;
        return "triangulating " + groupedCount(job.points) + " points" + needed;
    case Step::Gathering: return "gathering the surface for output";
    case Step::Repairing: return "repairing the surface";
    case Step::Writing: return "writing \"" + settings.out + '"';
    case Step::Reporting: return "checking the surface";
    case Step::Showing: return "drawing the surface";
    }
    return "";
}

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

int runJob(const Settings& settings, std::ostream& out, std::ostream& err, Progress& progress, const Settle& settle,
           Job& job, std::atomic<bool>& interrupted)
{
    LoadOptions options;
    options.threads = threadsFor(settings);
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

    // A mesh that could not be saved is best known before the work.
    if (!settings.out.empty()) {
        const std::string unwritable = meshTargetProblem(settings.out);
        if (!unwritable.empty()) {
            out << "  Writing mesh to file... Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            err << "tri3d: " << unwritable << std::endl;
            return 1;
        }
    }

    Reconstruct reconstruct;
    reconstruct.progress = &progress;
    reconstruct.treeThreads = threadsFor(settings);
    LoadReport report;
    out << "  Adding vertices from file... " << std::flush;
    job.lineOpen = true;
    bool loaded = false;
    // Tiles make engines of their own from the arrays; otherwise the
    // arrays go once the engine has its nodes: a run needs the memory
    // more than they do.
    const bool tiling = settings.tiles > 1;
    LoadedPoints points;
    {
        const InterruptsStopWork stopping(interrupted);
        loaded = loadPoints(settings.file, options, report, points, &progress);
    }
    settle();
    endIfInterrupted();
    if (loaded && !tiling) {
        reconstruct.setPoints(points.positions, points.normals);
        points = LoadedPoints();
    }
    const std::size_t count = tiling ? points.positions.size() : reconstruct.nodes.size();
    if (!loaded) {
        out << "Failed!" << std::endl;
        out << "  -  Error loading file \"" << settings.file << '"' << std::endl;
        if (!report.read.problem.empty())
            err << "tri3d: " << report.read.problem << std::endl;
        return 1;
    }
    out << "Done!" << std::endl;
    job.lineOpen = false;
    job.points = count;
    out << "  |P| = " << count << std::endl;
    printSkipped(report.read, err);
    printNormals(options, report, count, err);
    out << "  Vertex Candidate Search Algorithm: " << (settings.kd ? "KD-tree" : "Linear") << std::endl;
    warnIfShortOfMemory(job.points, err);

    const unsigned tiles = tileCount(settings, err);
    job.step = Step::Triangulating;
    out << "  Triangulation in progress... " << std::flush;
    job.lineOpen = true;
    Stopwatch stopwatch;
    stopwatch.startTimer();
    Surface tiled;
    {
        const InterruptsStopWork stopping(interrupted);
        if (tiling) {
            tiled.positions = std::move(points.positions);
            tiled.normals = std::move(points.normals);
            tiled.faces =
                reconstructTiled(tiled.positions, tiled.normals, tiles, threadsFor(settings), settings.kd, &progress);
        } else {
            reconstruct.triangulate(settings.kd);
        }
    }
    settle();
    endIfInterrupted();
    // The clock stops after this line is written: the time is the whole wait
    // a user sees between "progress..." and "Done!".
    out << "Done!" << std::endl;
    job.lineOpen = false;
    out << "  - Time: " << stopwatch.elapsedMilliseconds() << " milliseconds" << std::endl;

    // Without a file, a window, a picture or a report to make, nothing
    // reads the surface.
    if (settings.out.empty() && settings.shot.empty() && !settings.view && !settings.report)
        return 0;
    job.step = Step::Gathering;
    // The surface's arrays take the place of the search index, not more.
    reconstruct.releaseIndex();
    Surface surface = tiling ? std::move(tiled) : reconstruct.surface();
    // The surface's arrays hold all that is read from here on; the window
    // may stay open for hours, so the engine's records go now, before
    // the count below builds its tables beside the surface.
    reconstruct.clearNodes();
    Nodes().swap(reconstruct.nodes);
    Triangles().swap(reconstruct.triangles);
    Edges().swap(reconstruct.front);
    // Without clean:1 a faulty surface gets a word on the error stream.
    // The surface is not changed after this, so report:1 prints the same
    // count instead of making it again.
    std::optional<SurfaceReport> asMade;
    if (!settings.clean) {
        asMade = reportOn(surface);
        printSurfaceFaults(err, *asMade);
    }
    RepairCounts repaired;
    std::uint64_t repairMilliseconds = 0;
    if (settings.clean) {
        job.step = Step::Repairing;
        stopwatch.startTimer();
        repaired = repairSurface(surface, settings.holes, &progress, threadsFor(settings));
        repairMilliseconds = stopwatch.elapsedMilliseconds();
        settle();
    }
    if (!settings.out.empty()) {
        job.step = Step::Writing;
        out << "  Writing mesh to file... " << std::flush;
        job.lineOpen = true;
        std::string why;
        const bool written = writeMesh(settings.out, surface, &progress, &why);
        settle();
        if (!written) {
            out << "Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            if (!why.empty())
                err << "tri3d: " << why << std::endl;
            return 1;
        }
        out << "Done!" << std::endl;
        job.lineOpen = false;
        out << "  |T| = " << surface.faces.size() << std::endl;
    }
    if (settings.report) {
        job.step = Step::Reporting;
        printSurfaceReport(out, asMade ? *asMade : reportOn(surface));
        if (settings.clean)
            printRepair(out, repaired, repairMilliseconds);
    }

    job.step = Step::Showing;
    // A snapshot's line is open while it draws and encodes.
    job.lineOpen = !settings.shot.empty();
    return showResult(surface, settings, out, err);
}

bool showsProgress(const Settings& settings)
{
    return settings.progress > 0 || (settings.progress < 0 && ::isatty(STDERR_FILENO));
}

// Rewriting one text in place takes a terminal that knows cursor controls.
bool rewritesInPlace()
{
    const char* terminal = std::getenv("TERM");
    return ::isatty(STDERR_FILENO) && terminal != nullptr && *terminal != '\0' && std::strcmp(terminal, "dumb") != 0;
}

// A word of the command line that names an existing file.
bool namesAFile(const std::string& word)
{
    struct stat status;
    return ::stat(word.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

}  // namespace

unsigned tileCount(const Settings& settings, std::ostream& err)
{
    if (settings.tiles >= 1 && settings.tiles <= kMostTiles)
        return static_cast<unsigned>(settings.tiles);
    const unsigned tiles = settings.tiles == 0 ? 1u : static_cast<unsigned>(kMostTiles);
    err << "tri3d: tiles:" << settings.tiles << " is out of 1 to " << kMostTiles << "; using " << tiles << std::endl;
    return tiles;
}

int run(const Settings& settings, std::ostream& out, std::ostream& err)
{
    for (const std::string& key : settings.unknownKeys) {
        const std::string closest = closestKey(key);
        err << "tri3d: unknown key '" << key << "' ignored";
        if (!closest.empty())
            err << " (did you mean " << closest << ":?)";
        err << std::endl;
    }
    if (settings.help) {
        printUsage(out);
        printMoreOptions(out);
        return 0;
    }
    if (settings.file.empty()) {
        printUsage(out);
        printMoreOptions(err);
        for (const std::string& word : settings.bareWords)
            if (namesAFile(word))
                err << "tri3d: did you mean file:" << word << "?" << std::endl;
        return 0;
    }

    // The engine counts whether or not anyone watches, so a run costs the
    // same either way.
    Progress progress;
    // Ctrl-C sets it while the stages that look at it run: the work stops
    // through the same hook a library caller cancels with.
    std::atomic<bool> interrupted{false};
    progress.stopWhen(&interrupted);
    std::unique_ptr<ProgressDisplay> display;
    if (showsProgress(settings))
        display = std::make_unique<ProgressDisplay>(progress, STDERR_FILENO, rewritesInPlace());
    const Settle settle(display.get());
    Job job;
    try {
        return runJob(settings, out, err, progress, settle, job, interrupted);
    } catch (const std::bad_alloc&) {
        // The job's memory is all given back by now, so the report has room,
        // and the temporary of a write under way is gone with it.
        settle();
        if (job.lineOpen)
            out << "Failed!" << std::endl;
        out << "  -  Out of memory while " << outOfMemoryWhile(job, settings, progress) << std::endl;
        return 1;
    }
}
