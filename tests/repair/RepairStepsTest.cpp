#include "repair/EdgeFlips.h"
#include "repair/EdgeTable.h"
#include "repair/ExactPredicates.h"
#include "repair/FaceBoxTree.h"
#include "repair/FaceEdits.h"
#include "repair/HoleFilling.h"
#include "repair/HolePatch.h"
#include "repair/HoleRefill.h"
#include "repair/PieceRemoval.h"
#include "repair/PointInsertion.h"
#include "repair/SelfIntersections.h"
#include "repair/SurfaceReport.h"
#include "repair/TriangleIntersection.h"

#include "SampleShapes.h"
#include "geometry/Surface.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <unordered_set>
#include <sstream>

namespace {

__extension__ using Wide = __int128;  // wide enough for a determinant of 2^31 differences

Surface flatGrid(int side)
{
    // points on a square grid in z = 0, normals up
    Surface s;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            s.positions.push_back({double(i), double(j), 0.0});
            s.normals.push_back({0.0, 0.0, 1.0});
        }
    return s;
}

// A grid's cells, two faces each, but for the squares of cells (first
// column, first row, side) listed; with each square's outline, counter-
// clockwise from its lowest corner.
Surface gridWithHoles(int side, const std::vector<std::array<int, 3>>& holes,
                      std::vector<std::vector<std::uint32_t>>& outlines)
{
    Surface s = flatGrid(side);
    const auto at = [side](int i, int j) { return static_cast<std::uint32_t>(j * side + i); };
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            bool missing = false;
            for (const auto& [i0, j0, n] : holes)
                missing = missing || (i >= i0 && i < i0 + n && j >= j0 && j < j0 + n);
            if (!missing) {
                s.faces.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
                s.faces.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
            }
        }
    for (const auto& [i0, j0, n] : holes) {
        std::vector<std::uint32_t> outline;
        for (int k = 0; k < n; ++k)
            outline.push_back(at(i0 + k, j0));
        for (int k = 0; k < n; ++k)
            outline.push_back(at(i0 + n, j0 + k));
        for (int k = n; k > 0; --k)
            outline.push_back(at(i0 + k, j0 + n));
        for (int k = n; k > 0; --k)
            outline.push_back(at(i0, j0 + k));
        outlines.push_back(outline);
    }
    return s;
}

}  // namespace

TEST(ExactPredicates, AgreeWithIntegerArithmeticNearAPlane)
{
    // Integer points near 2^30, four at a time on one plane but for a step
    // of -1, 0 or 1 in z: the plain determinant's rounding is far larger
    // than the true value, so only the exact sum can give its sign. The
    // reference is the same determinant in 128-bit integers.
    std::uint64_t state = 7;
    const auto next = [&state](std::int64_t range) {
        return static_cast<std::int64_t>(nextRandom(state) % static_cast<std::uint64_t>(range));
    };
    int undecided = 0;
    for (int round = 0; round < 300; ++round) {
        const std::int64_t base = std::int64_t{1} << 30;
        std::int64_t q[4][3];
        const std::int64_t u[3] = {next(1000) + 1, next(1000), next(1000)};
        const std::int64_t v[3] = {next(1000), next(1000) + 1, next(1000)};
        for (int i = 0; i < 4; ++i) {
            const std::int64_t s = next(1 << 20), t = next(1 << 20);
            for (int k = 0; k < 3; ++k)
                q[i][k] = base + s * u[k] + t * v[k];
        }
        q[3][2] += next(3) - 1;
        Wide m[3][3];
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                m[i][k] = q[i][k] - q[3][k];
        const Wide det = m[0][2] * (m[1][0] * m[2][1] - m[2][0] * m[1][1]) +
                         m[1][2] * (m[2][0] * m[0][1] - m[0][0] * m[2][1]) +
                         m[2][2] * (m[0][0] * m[1][1] - m[1][0] * m[0][1]);
        const int expected = det > 0 ? 1 : det < 0 ? -1 : 0;
        const auto at = [&q](int i) { return CGVertex{double(q[i][0]), double(q[i][1]), double(q[i][2])}; };
        EXPECT_EQ(orient3d(at(0), at(1), at(2), at(3)), expected) << "round " << round;
        undecided += expected == 0;
    }
    EXPECT_GT(undecided, 50) << "exactly flat cases come up";
    // the 2D test on three points of one line, far from the origin
    EXPECT_EQ(orient2d({1e8, 1e8, 0}, {1e8 + 1, 1e8 + 1, 0}, {1e8 + 3, 1e8 + 3, 0}, 2), 0);
    EXPECT_EQ(orient2d({1e8, 1e8, 0}, {1e8 + 1, 1e8 + 1, 0}, {1e8 + 3, 1e8 + 3.0000001, 0}, 2), 1);
}

TEST(FacesIntersect, TellsTouchingFromCrossing)
{
    const std::vector<CGVertex> p = {{0, 0, 0},     {1, 0, 0},     {0, 1, 0},  {1, 1, 0},      {0.2, 0.2, -1},
                                     {0.2, 0.2, 1}, {0.3, 0.2, 1}, {-1, 0, 0}, {0.25, 0.25, 0}};
    EXPECT_FALSE(facesIntersect(p, {0, 1, 2}, {1, 3, 2})) << "a shared edge, side by side";
    EXPECT_TRUE(facesIntersect(p, {0, 1, 2}, {1, 2, 8})) << "a shared edge, folded flat onto the face";
    EXPECT_FALSE(facesIntersect(p, {0, 1, 2}, {0, 2, 7})) << "a shared edge, other side";
    EXPECT_TRUE(facesIntersect(p, {0, 1, 2}, {4, 5, 6})) << "a face pierces it";
    EXPECT_FALSE(facesIntersect(p, {0, 1, 2}, {0, 5, 6})) << "a shared corner only";
    EXPECT_TRUE(facesIntersect(p, {0, 1, 2}, {0, 8, 7})) << "a shared corner, a side lying inside the face";
}

TEST(FaceBoxTree, FindsWhatAScanFindsAfterFacesComeAndChange)
{
    const Surface grid = flatGrid(12);
    Faces faces;
    for (std::uint32_t j = 0; j + 1 < 12; ++j)
        for (std::uint32_t i = 0; i + 1 < 12; ++i)
            faces.push_back({j * 12 + i, j * 12 + i + 1, (j + 1) * 12 + i});
    FaceBoxTree tree(grid.positions, faces);
    faces.push_back({0, 143, 11});  // a long face across everything
    tree.refresh(static_cast<std::uint32_t>(faces.size() - 1));
    faces[5] = {100, 101, 112};  // moved far from its first place
    tree.refresh(5);
    // dropping faces renames every later one, the appended one too
    std::vector<bool> kept(faces.size(), true);
    kept[0] = kept[6] = kept[40] = false;
    keepMarked(faces, kept);
    tree.keepOnly(kept);
    for (std::uint32_t probe = 0; probe < faces.size(); probe += 7) {
        const Box box = boxOf(grid.positions, faces[probe]);
        std::vector<std::uint32_t> found;
        tree.query(box, found);
        std::vector<std::uint32_t> scanned;
        for (std::uint32_t f = 0; f < faces.size(); ++f)
            if (boxOf(grid.positions, faces[f]).meets(box))
                scanned.push_back(f);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, scanned) << "probe " << probe;
    }
    // the walk over pairs of nodes finds each meeting pair once, lower first
    std::vector<std::pair<std::uint32_t, std::uint32_t>> walked, pairs;
    tree.forEachMeetingPair([&walked](std::uint32_t f, std::uint32_t g) { walked.push_back({f, g}); });
    for (std::uint32_t f = 0; f < faces.size(); ++f)
        for (std::uint32_t g = f + 1; g < faces.size(); ++g)
            if (boxOf(grid.positions, faces[f]).meets(boxOf(grid.positions, faces[g])))
                pairs.push_back({f, g});
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, pairs);
    // and cut into pieces for threads, the pieces together find the same
    const auto parts = tree.meetingPairParts(5);
    EXPECT_GE(parts.size(), 5u);
    walked.clear();
    for (const auto& part : parts)
        tree.forEachMeetingPairIn(part, [&walked](std::uint32_t f, std::uint32_t g) { walked.push_back({f, g}); });
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, pairs);
}

TEST(IntersectingPairs, FindsTheSamePairsOnTwoThreadsAsOnOne)
{
    // small triangles strewn through a cube, many of them crossing, enough
    // of them for the search to take a second thread
    std::uint64_t state = 11;
    const auto unit = [&state] { return double(nextRandom(state) % 1000000) / 1000000.0; };
    Surface s;
    for (std::uint32_t f = 0; f < 30000; ++f) {
        const CGVertex at{unit(), unit(), unit()};
        for (int c = 0; c < 3; ++c)
            s.positions.push_back({at.x + 0.03 * unit(), at.y + 0.03 * unit(), at.z + 0.03 * unit()});
        s.faces.push_back({3 * f, 3 * f + 1, 3 * f + 2});
    }
    const FaceBoxTree tree(s.positions, s.faces);
    const auto one = intersectingPairs(s.positions, s.faces, tree, 1);
    EXPECT_GT(one.size(), 1000u);
    EXPECT_EQ(intersectingPairs(s.positions, s.faces, tree, 2), one);
}

TEST(CrossingSearch, FindsAmongTheFacesLeftWhatASearchOfThemFinds)
{
    // Triangles on a few close points, so many share a corner or an edge
    // and many cross; the search runs on all of them while some go and
    // some turn over, which changes neither whether two meet nor how.
    std::uint64_t state = 3;
    const auto unit = [&state] { return double(nextRandom(state) % 1000000) / 1000000.0; };
    Surface s;
    for (int p = 0; p < 400; ++p)
        s.positions.push_back({p % 20 + unit(), p / 20 + unit(), unit()});
    for (int f = 0; f < 3000; ++f) {
        const auto a = static_cast<std::uint32_t>(nextRandom(state) % 360);
        s.faces.push_back({a, static_cast<std::uint32_t>(a + 1 + nextRandom(state) % 3),
                           static_cast<std::uint32_t>(a + 19 + nextRandom(state) % 3)});
    }
    CrossingSearch ahead(s.positions, s.faces);
    Faces left;
    for (std::size_t f = 0; f < s.faces.size(); ++f) {
        if (f % 3 == 1)
            continue;
        left.push_back(s.faces[f]);
        if (f % 5 == 0)
            std::swap(left.back()[1], left.back()[2]);
    }
    const auto pairs = intersectingPairs(s.positions, left);
    EXPECT_GT(pairs.size(), 1000u);
    EXPECT_EQ(ahead.pairsAmong(left), pairs);
}

TEST(RemoveIntersections, DropsTheFaceThatCrossesMostAndKeepsTheSheet)
{
    Surface s = flatGrid(4);
    s.faces = {{0, 1, 4}, {1, 5, 4}, {1, 2, 5}, {2, 6, 5}};
    s.positions.push_back({0.5, 0.4, -1});
    s.positions.push_back({1.6, 0.4, 1});
    s.positions.push_back({1.0, 0.5, 1});
    s.normals.resize(s.positions.size(), CGVector{0, 0, 1});
    s.faces.push_back({16, 17, 18});  // stands through two faces of the sheet
    EXPECT_EQ(intersectingPairs(s.positions, s.faces).size(), 2u);
    FaceBoxTree boxes(s.positions, s.faces);
    EXPECT_EQ(removeIntersections(s, s.faces, boxes), 1u);
    EXPECT_EQ(s.faces.size(), 4u);
    EXPECT_TRUE(intersectingPairs(s.positions, s.faces).empty());
}

TEST(RefillHoles, GrowsOverThePointsInAHole)
{
    // A 5 x 5 grid with the four middle squares left out: the hole's
    // middle point is used by no face until the refill takes it.
    Surface s = flatGrid(5);
    for (std::uint32_t j = 0; j < 4; ++j)
        for (std::uint32_t i = 0; i < 4; ++i) {
            if ((i == 1 || i == 2) && (j == 1 || j == 2))
                continue;
            const std::uint32_t a = j * 5 + i;
            s.faces.push_back({a, a + 1, a + 6});
            s.faces.push_back({a, a + 6, a + 5});
        }
    FaceBoxTree boxes(s.positions, s.faces);
    const RefillCounts counts = refillHoles(s, s.faces, boxes);
    EXPECT_EQ(counts.pointsUsed, 1u);
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.boundaryLoops, 1u) << "only the grid's own border";
    EXPECT_EQ(r.inconsistentEdges, 0u);
    EXPECT_EQ(r.nonManifoldEdges, 0u);
    EXPECT_EQ(r.eulerCharacteristic, 1);
    EXPECT_TRUE(intersectingPairs(s.positions, s.faces).empty());
}

TEST(PatchHoles, RebuildsTheFacesAroundAHoleOverItsPoints)
{
    // A 7 x 7 grid missing its middle 2 x 2 cells, the middle point unused:
    // the faces a ring around the outline go, and the disc they leave is
    // triangulated again over its points, the unused one among them.
    Surface s = flatGrid(7);
    for (std::uint32_t j = 0; j + 1 < 7; ++j)
        for (std::uint32_t i = 0; i + 1 < 7; ++i) {
            if (i >= 2 && i <= 3 && j >= 2 && j <= 3)
                continue;
            const std::uint32_t a = j * 7 + i;
            s.faces.push_back({a, a + 1, a + 8});
            s.faces.push_back({a, a + 8, a + 7});
        }
    const Faces before = s.faces;
    FaceBoxTree boxes(s.positions, s.faces);
    const PatchCounts counts = patchHoles(s, s.faces, boxes, {{16, 17, 18, 25, 32, 31, 30, 23}});
    EXPECT_EQ(counts.patched, 1u);
    EXPECT_EQ(counts.pointsUsed, 1u);
    EXPECT_TRUE(counts.openCorners.empty());
    EXPECT_EQ(s.faces.front(), before.front()) << "faces away from the hole keep their places";
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.boundaryLoops, 1u) << "only the grid's own border";
    EXPECT_EQ(r.verticesUsed, 49u);
    EXPECT_EQ(r.inconsistentEdges, 0u);
    EXPECT_EQ(r.nonManifoldEdges, 0u);
    EXPECT_EQ(r.eulerCharacteristic, 1);
    EXPECT_TRUE(intersectingPairs(s.positions, s.faces).empty());
    FaceBoxTree fresh(s.positions, s.faces);
    std::vector<std::uint32_t> found, known;
    const Box all{{-1, -1, -1}, {7, 7, 1}};
    fresh.query(all, found);
    boxes.query(all, known);
    EXPECT_EQ(known.size(), found.size()) << "the box tree followed the faces";
}

TEST(PatchHoles, RebuildsTheSameFacesOnTwoThreadsAsOnOne)
{
    // Holes planned at once: the second and fourth lie within the rings
    // the first and third take, so their plans must be made again after
    // those are carried out; the rest lie apart and keep theirs.
    std::vector<std::vector<std::uint32_t>> outlines;
    const Surface grid = gridWithHoles(
        40, {{4, 4, 2}, {8, 4, 2}, {20, 20, 2}, {23, 20, 2}, {30, 8, 2}, {8, 30, 2}, {30, 30, 2}}, outlines);
    Faces result[2];
    PatchCounts counts[2];
    for (unsigned threads = 1; threads <= 2; ++threads) {
        result[threads - 1] = grid.faces;
        FaceBoxTree boxes(grid.positions, result[threads - 1]);
        counts[threads - 1] = patchHoles(grid, result[threads - 1], boxes, outlines, threads);
    }
    EXPECT_EQ(counts[0].patched, outlines.size());
    EXPECT_EQ(counts[0].pointsUsed, outlines.size()) << "each hole's middle point";
    EXPECT_EQ(counts[1].patched, counts[0].patched);
    EXPECT_EQ(counts[1].facesRemoved, counts[0].facesRemoved);
    EXPECT_EQ(counts[1].facesAdded, counts[0].facesAdded);
    EXPECT_EQ(result[1], result[0]);
}

TEST(FillHoles, ClosesTheSameWayOnTwoThreadsAsOnOne)
{
    // Loops long enough to be closed two at a time; the first two meet at
    // a corner, so the second's closing is worked out again after the
    // first's is added.
    std::vector<std::vector<std::uint32_t>> outlines;
    const Surface grid =
        gridWithHoles(30, {{2, 2, 4}, {6, 6, 4}, {14, 2, 5}, {2, 16, 4}, {16, 16, 6}, {24, 4, 4}}, outlines);
    Faces result[2];
    HoleCounts counts[2];
    for (unsigned threads = 1; threads <= 2; ++threads) {
        result[threads - 1] = grid.faces;
        FaceBoxTree boxes(grid.positions, result[threads - 1]);
        EdgeTable table(result[threads - 1], grid.positions.size());
        counts[threads - 1] =
            fillHoles(grid.positions, result[threads - 1], boxes, table, 100, false, nullptr, threads);
    }
    EXPECT_EQ(counts[0].leftOpen, 0u);
    EXPECT_EQ(counts[0].filled, outlines.size()) << "the grid's own border is past the limit";
    EXPECT_EQ(counts[1].filled, counts[0].filled);
    EXPECT_EQ(counts[1].facesAdded, counts[0].facesAdded);
    EXPECT_EQ(result[1], result[0]);
}

TEST(InsertLeftOutPoints, SplitsTheFaceAPointLiesOver)
{
    // A square of two faces and four unused points: one just above the
    // first face, one far above it, one facing down, and one just off the
    // diagonal, where three faces would hold a sliver and the diagonal
    // and the faces on both sides of it split instead.
    Surface s;
    s.positions = {{0, 0, 0},       {2, 0, 0},     {2, 2, 0},       {0, 2, 0},
                   {1.4, 0.5, 0.1}, {1.4, 0.5, 3}, {0.5, 1.4, 0.1}, {1.0, 0.98, 0.05}};
    s.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, -1}, {0, 0, 1}};
    s.faces = {{0, 1, 2}, {0, 2, 3}};
    FaceBoxTree boxes(s.positions, s.faces);
    EXPECT_EQ(insertLeftOutPoints(s, s.faces, boxes), 2u);
    EXPECT_EQ(s.faces.size(), 6u);
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.verticesUsed, 6u);
    EXPECT_EQ(r.boundaryLoops, 1u);
    EXPECT_EQ(r.inconsistentEdges, 0u);
    EXPECT_EQ(r.nonManifoldEdges, 0u);
    EXPECT_EQ(r.eulerCharacteristic, 1);
    EXPECT_TRUE(intersectingPairs(s.positions, s.faces).empty());
}

TEST(RemoveClosedScraps, DropsAClosedScrapAndKeepsAnOpenPiece)
{
    // A 16 x 16 grid (450 faces), a closed tetrahedron of 4 faces below
    // it and a single open face beside it, both under a hundredth of the
    // grid: the tetrahedron is a scrap a closing capped; the open face is
    // surface the samples gave.
    Surface s = flatGrid(16);
    for (std::uint32_t j = 0; j + 1 < 16; ++j)
        for (std::uint32_t i = 0; i + 1 < 16; ++i) {
            const std::uint32_t a = j * 16 + i;
            s.faces.push_back({a, a + 1, a + 17});
            s.faces.push_back({a, a + 17, a + 16});
        }
    const auto first = static_cast<std::uint32_t>(s.positions.size());
    for (const CGVertex& p : {CGVertex{3, 3, -2}, CGVertex{4, 3, -2}, CGVertex{3, 4, -2}, CGVertex{3, 3, -1},
                              CGVertex{20, 0, 0}, CGVertex{21, 0, 0}, CGVertex{20, 1, 0}}) {
        s.positions.push_back(p);
        s.normals.push_back({0, 0, 1});
    }
    const std::uint32_t a = first, b = first + 1, c = first + 2, d = first + 3;
    s.faces.insert(s.faces.end(), {{a, c, b}, {a, b, d}, {b, c, d}, {c, a, d}, {first + 4, first + 5, first + 6}});
    FaceBoxTree boxes(s.positions, s.faces);
    EXPECT_EQ(removeClosedScraps(s.faces, s.positions.size(), boxes), 4u);
    EXPECT_EQ(s.faces.size(), 451u);
    EXPECT_EQ(s.faces.back(), (Face{first + 4, first + 5, first + 6}));
}

TEST(RemovePinches, FromNamedPointsDropsWhatALookAtEveryPointDrops)
{
    // A fan of three faces and a lone face touching it at point 0 only.
    Surface s;
    s.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, -1, 0}, {0, -1, 0}};
    s.faces = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 5, 6}};
    const Faces kept = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}};
    const std::vector<std::uint32_t> named = {6, 0};
    for (const bool fromNamed : {false, true}) {
        Faces faces = s.faces;
        EdgeTable table(faces, s.positions.size());
        EXPECT_EQ(removePinches(faces, s.positions.size(), table, nullptr, fromNamed ? &named : nullptr), 1u);
        EXPECT_EQ(faces, kept) << fromNamed;
        EXPECT_EQ(table.faceCount(), 3u);
    }
    // named points where no pinch is are all that is looked at
    const std::vector<std::uint32_t> elsewhere = {1, 2};
    Faces faces = s.faces;
    EdgeTable table(faces, s.positions.size());
    EXPECT_EQ(removePinches(faces, s.positions.size(), table, nullptr, &elsewhere), 0u);
}

TEST(FlipSlivers, TurnsTheLongDiagonalOfAThinRhombus)
{
    // Two slivers on the long diagonal; the short one makes two fair faces.
    Surface s;
    s.positions = {{-2, 0, 0}, {2, 0, 0}, {0, 0.3, 0}, {0, -0.3, 0}};
    s.normals.assign(4, CGVector{0, 0, 1});
    s.faces = {{0, 1, 2}, {1, 0, 3}};
    EXPECT_EQ(flipSlivers(s, s.faces, 2), 1u);
    EXPECT_EQ(s.faces, (Faces{{0, 3, 2}, {3, 1, 2}}));
    EXPECT_EQ(flipSlivers(s, s.faces, 2), 0u) << "nothing left to gain";
}

TEST(FlipSlivers, TurnsTheSameEdgesOnTwoThreadsAsOnOne)
{
    // A jittered grid cut along one diagonal everywhere, with fins through
    // it that block some turns: enough edges for the tests on each edge's
    // own two faces to take a second thread.
    std::uint64_t state = 5;
    const auto unit = [&state] { return double(nextRandom(state) % 1000000) / 1000000.0; };
    constexpr std::uint32_t kSide = 110;
    Surface s;
    for (std::uint32_t j = 0; j < kSide; ++j)
        for (std::uint32_t i = 0; i < kSide; ++i) {
            s.positions.push_back({i + 0.6 * unit(), j + 0.6 * unit(), 0.2 * unit()});
            s.normals.push_back({0, 0, 1});
        }
    for (std::uint32_t j = 0; j + 1 < kSide; ++j)
        for (std::uint32_t i = 0; i + 1 < kSide; ++i) {
            const std::uint32_t p = j * kSide + i;
            s.faces.push_back({p, p + 1, p + kSide + 1});
            s.faces.push_back({p, p + kSide + 1, p + kSide});
        }
    for (int fin = 0; fin < 300; ++fin) {
        const double x = 1 + (kSide - 4) * unit(), y = 1 + (kSide - 4) * unit();
        const auto first = static_cast<std::uint32_t>(s.positions.size());
        s.positions.insert(s.positions.end(), {{x, y, -1}, {x + 1.5, y + 0.7, -1}, {x + 0.7, y + 0.3, 1}});
        s.normals.insert(s.normals.end(), 3, CGVector{0.4, -0.9, 0});
        s.faces.push_back({first, first + 1, first + 2});
    }
    std::uint64_t turned[2] = {0, 0};
    Faces result[2];
    for (unsigned threads = 1; threads <= 2; ++threads) {
        result[threads - 1] = s.faces;
        FaceBoxTree tree(s.positions, result[threads - 1]);
        EdgeTable table(result[threads - 1], s.positions.size());
        ASSERT_GE(table.edgeCount(), 30000u);
        turned[threads - 1] = flipSlivers(s, result[threads - 1], tree, table, 2, true, threads);
    }
    EXPECT_GT(turned[0], 500u);
    EXPECT_EQ(turned[1], turned[0]);
    EXPECT_EQ(result[1], result[0]);
    // the fins stay crossed by no new face: fewer turns than without them
    Surface bare = s;
    bare.faces.resize(s.faces.size() - 300);
    EXPECT_LT(turned[0], flipSlivers(bare, bare.faces, 2));
}

TEST(RepairEndToEnd, RandomTorusComesOutOfGenusOneCrossingNothing)
{
    std::string text;
    char row[160];
    const std::vector<SamplePoint> sample = randomTorusSample(4000, 25.0, 10.0, 3);
    for (const SamplePoint& p : sample) {
        std::snprintf(row, sizeof row, "%.9g %.9g %.9g %.9g %.9g %.9g\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += row;
    }
    const std::string points = testsupport::writeTempFile("repair_torus.xyz", text);
    const std::string mesh = testsupport::tempPath("repair_torus.off");
    const ProgramResult result =
        runProgram(TRI3D_BINARY, {"file:" + points, "view:0", "clean:1", "out:" + mesh}, std::chrono::seconds(120));
    ASSERT_TRUE(result.exitedWith(0)) << result.err;

    std::ifstream in(mesh);
    std::string magic;
    std::size_t vertices = 0, faceCount = 0, edges = 0;
    in >> magic >> vertices >> faceCount >> edges;
    Surface s;
    s.positions.resize(vertices);
    for (CGVertex& p : s.positions)
        in >> p.x >> p.y >> p.z;
    s.faces.resize(faceCount);
    for (Face& f : s.faces) {
        int three = 0;
        in >> three >> f[0] >> f[1] >> f[2];
    }
    ASSERT_TRUE(in) << "the mesh reads back";
    const SurfaceReport r = reportOn(s);
    EXPECT_EQ(r.boundaryLoops, 0u) << "closed";
    EXPECT_EQ(r.nonManifoldEdges, 0u);
    EXPECT_EQ(r.inconsistentEdges, 0u);
    EXPECT_EQ(r.components, 1u);
    EXPECT_EQ(2 - r.eulerCharacteristic - static_cast<std::int64_t>(r.boundaryLoops), 2) << "genus 1, holes counted";
    EXPECT_GE(r.verticesUsed * 1000, sample.size() * 995) << "at most 0.5% of the points left out";
    EXPECT_TRUE(intersectingPairs(s.positions, s.faces).empty());
}

TEST(FillHoles, ClosesALongHoleOnlyWhenTheRepairOpenedIt)
{
    // A 6 x 6 grid missing its middle 2 x 2 cells: an outline of 8 edges,
    // over a limit of 4. Open in the surface as made, it is the samples'
    // border and stays; with all faces there as made, the repair opened it.
    Surface s = flatGrid(6);
    for (std::uint32_t j = 0; j + 1 < 6; ++j)
        for (std::uint32_t i = 0; i + 1 < 6; ++i) {
            if (i >= 1 && i <= 2 && j >= 1 && j <= 2)
                continue;
            const std::uint32_t a = j * 6 + i;
            s.faces.push_back({a, a + 1, a + 7});
            s.faces.push_back({a, a + 7, a + 6});
        }
    std::unordered_set<std::uint64_t> openAsMade;
    for (const auto& [a, b] :
         {std::make_pair(7u, 8u), std::make_pair(8u, 9u), std::make_pair(9u, 15u), std::make_pair(15u, 21u),
          std::make_pair(21u, 20u), std::make_pair(20u, 19u), std::make_pair(19u, 13u), std::make_pair(13u, 7u)})
        openAsMade.insert(edgeKey(a, b));
    Faces faces = s.faces;
    FaceBoxTree boxes(s.positions, faces);
    EXPECT_EQ(fillHoles(s.positions, faces, boxes, 4, false, &openAsMade).filled, 0u);
    openAsMade.clear();
    EXPECT_EQ(fillHoles(s.positions, faces, boxes, 4, false, &openAsMade).filled, 1u);
    EXPECT_EQ(faces.size(), s.faces.size() + 6);
}
