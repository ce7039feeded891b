#include "repair/SurfaceRepair.h"

#include "geometry/Progress.h"
#include "geometry/Surface.h"
#include "repair/EdgeFlips.h"
#include "repair/EdgeTable.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/FoldRemoval.h"
#include "repair/HoleFilling.h"
#include "repair/HolePatch.h"
#include "repair/HoleRefill.h"
#include "repair/ManifoldGrowth.h"
#include "repair/PieceRemoval.h"
#include "repair/PointInsertion.h"
#include "repair/SelfIntersections.h"

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <vector>

namespace {

// Sweeps of the sliver flips: later sweeps turn few edges.
constexpr int kFlipPasses = 2;

// How often the faces around holes that would not close are taken away.
constexpr int kWideningRounds = 4;

// The points and, rings times over, every corner of a face at one of
// them.
std::vector<std::uint32_t> ringsAround(const Faces& faces, std::vector<std::uint32_t> points, std::size_t pointCount,
                                       int rings)
{
    std::vector<bool> marked(pointCount, false);
    for (std::uint32_t p : points)
        marked[p] = true;
    for (int ring = 0; ring < rings; ++ring) {
        std::vector<bool> next = marked;
        for (const Face& face : faces)
            if (marked[face[0]] || marked[face[1]] || marked[face[2]])
                for (std::uint32_t corner : face)
                    next[corner] = true;
        marked.swap(next);
    }
    points.clear();
    for (std::uint32_t p = 0; p < pointCount; ++p)
        if (marked[p])
            points.push_back(p);
    return points;
}

}  // namespace

RepairCounts repairSurface(Surface& surface, std::size_t maxHoleEdges, Progress* progress, unsigned threads)
{
    Progress unwatched;
    Progress& steps = progress != nullptr ? *progress : unwatched;
    steps.begin(Progress::Stage::Repairing, 5);
    RepairCounts counts;
    Faces& faces = surface.faces;
    const std::size_t pointCount = surface.positions.size();

    // One edge table serves every step: each step that drops, turns or adds
    // faces brings it up to date in place, or the next step does.
    EdgeTable table(faces, pointCount, threads);
    // The outlines the samples left, told apart from those the repair opens.
    std::unordered_set<std::uint64_t> openAsMade;
    for (std::size_t e = 0; e < table.edgeCount(); ++e)
        if (table.uses(e) == 1)
            openAsMade.insert(edgeKey(table.lower(e), table.higher(e)));
    counts.removedDuplicates = removeDuplicates(faces, table);
    // whether the faces are still those the outlines above were read from
    bool asMade = counts.removedDuplicates == 0;
    steps.advance(1);
    // A surface whose every edge has at most two faces, run opposite ways,
    // needs no faces taken away for its edges' sake.
    // whether no point is a corner of two fans that touch only there
    bool pinchFree = false;
    // the crossing faces, sought while the faces below go
    std::unique_ptr<CrossingSearch> ahead;
    if (!windsOneWay(table)) {
        asMade = false;
        counts.removedFoldOvers = removeFoldOvers(surface, faces, table);
        counts.removedFoldOvers += growManifold(surface, faces, table, counts.flippedFaces, threads);
        if (threads > 1)
            ahead = std::make_unique<CrossingSearch>(surface.positions, faces);
        counts.removedPieces += removePinches(faces, pointCount, table);
        counts.removedPieces += removeShreds(faces, table);
        // the pinches went, and the shreds were whole pieces, sharing no point
        pinchFree = true;
    }
    steps.advance(1);

    // One box tree serves every step from here on: each step tells it of
    // the faces it adds, turns or drops, so none has to build its own.
    FaceBoxTree boxes(surface.positions, faces, threads);

    // Faces that cross each other but share no edge pass every edge test.
    std::vector<std::uint32_t> crossingCorners;  // of the faces that went
    counts.removedIntersecting =
        removeIntersections(surface, faces, boxes, &table, threads, &crossingCorners, ahead.get());
    ahead.reset();
    if (counts.removedIntersecting > 0) {
        asMade = false;
        // on a surface with no pinch, taking faces away makes new ones at
        // their corners alone
        counts.removedPieces += removePinches(faces, pointCount, table, &boxes, pinchFree ? &crossingCorners : nullptr);
    }
    steps.advance(1);

    // Holes first grow inward over the points inside them; what then
    // remains of an outline is closed over its own points. A short hole
    // that still cannot close is twisted against the faces around it:
    // those are rebuilt flat with it, or, where no rebuild fits, they go
    // and the larger hole is grown and closed again.
    // A surface closed as made and left as it was has no outline to fill:
    // every hole step would only build its edge table to find none.
    const bool closed = asMade && openAsMade.empty();
    // The patch drops and rebuilds faces where the table cannot follow: it
    // is then built afresh where it is next read, which costs no more than
    // a build at once and spares following the widening's drops.
    bool stale = false;
    const auto bringUp = [&] {
        if (stale)
            table = EdgeTable(faces, pointCount, threads);
        else
            table.update(faces);
        stale = false;
    };
    for (int round = 0; !closed; ++round) {
        if (maxHoleEdges > 0) {
            bringUp();
            const RefillCounts refilled = refillHoles(surface, faces, boxes, table);
            counts.facesAdded += refilled.facesAdded;
            counts.refilledPoints += refilled.pointsUsed;
        }
        bringUp();
        const HoleCounts holes = fillHoles(surface.positions, faces, boxes, table, maxHoleEdges,
                                           round == kWideningRounds, maxHoleEdges > 0 ? &openAsMade : nullptr, threads);
        counts.removedPieces += holes.removedFlaps;
        counts.filledHoles += holes.filled;
        counts.facesAdded += holes.facesAdded;
        counts.holesLeftOpen = holes.leftOpen;
        if (holes.leftOpen == 0)
            break;
        // what no closing could mend is rebuilt with the faces around it
        const PatchCounts patched = patchHoles(surface, faces, boxes, holes.openOutlines, threads);
        counts.holesLeftOpen -= patched.patched;
        counts.filledHoles += patched.patched;
        counts.removedPieces += patched.facesRemoved;
        counts.facesAdded += patched.facesAdded;
        counts.refilledPoints += patched.pointsUsed;
        stale = stale || patched.facesRemoved + patched.facesAdded > 0;
        if (counts.holesLeftOpen == 0 || round == kWideningRounds)
            break;
        counts.removedPieces += removeFacesAt(faces, ringsAround(faces, patched.openCorners, pointCount, round / 2),
                                              pointCount, &boxes, stale ? nullptr : &table);
    }
    // faces split in place, which the table reads again before the flips
    std::vector<std::uint32_t> split;
    if (!closed) {
        // caps the closings put on islands, apart from the sheet
        bringUp();
        counts.removedPieces += removeClosedScraps(faces, table, boxes);
        // points the sheet passed by, as on a noisy scan, go into the face
        // they lie over
        const std::uint64_t inserted = insertLeftOutPoints(surface, faces, boxes, &split);
        counts.refilledPoints += inserted;
        counts.facesAdded += 2 * inserted;
        // a face split twice is read once; one added since is read as added
        std::sort(split.begin(), split.end());
        split.erase(std::unique(split.begin(), split.end()), split.end());
        split.erase(std::lower_bound(split.begin(), split.end(), table.faceCount()), split.end());
    }
    steps.advance(1);

    // A surface the repair found nothing wrong with keeps its faces as
    // they are, slivers and all.
    const bool changed = counts.removedDuplicates + counts.removedFoldOvers + counts.removedPieces +
                             counts.flippedFaces + counts.removedIntersecting + counts.facesAdded >
                         0;
    if (changed) {
        table.update(faces, split);
        // the hole steps widened the tree's boxes for every face they added
        boxes.tighten();
        // the last step: nothing reads the table after it
        counts.turnedEdges = flipSlivers(surface, faces, boxes, table, kFlipPasses, false, threads);
    }
    steps.advance(1);
    return counts;
}
