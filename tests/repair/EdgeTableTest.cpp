#include "repair/EdgeTable.h"

#include "repair/FaceEdits.h"
#include "SampleShapes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A table kept up to date must read exactly as one built afresh: the steps
// walk edges and half-edges in the table's order, so any difference there
// would change the repair's output.
void expectSameAsBuilt(const EdgeTable& kept, const Faces& faces, std::size_t pointCount)
{
    const EdgeTable built(faces, pointCount);
    ASSERT_EQ(kept.faceCount(), faces.size());
    ASSERT_EQ(kept.edgeCount(), built.edgeCount());
    for (std::size_t e = 0; e < built.edgeCount(); ++e) {
        ASSERT_EQ(kept.lower(e), built.lower(e)) << "edge " << e;
        ASSERT_EQ(kept.higher(e), built.higher(e)) << "edge " << e;
        ASSERT_EQ(kept.uses(e), built.uses(e)) << "edge " << e;
        for (std::uint32_t i = 0; i < built.uses(e); ++i) {
            EXPECT_EQ(kept.use(e, i), built.use(e, i));
            EXPECT_EQ(kept.runsUp(e, i), built.runsUp(e, i));
            EXPECT_EQ(kept.across(e, i), built.across(e, i));
        }
    }
    for (std::uint32_t h = 0; h < 3 * faces.size(); ++h)
        EXPECT_EQ(kept.edgeOf(h), built.edgeOf(h));
    // every pair where there are few points, each edge's own where many
    if (pointCount <= 64) {
        for (std::uint32_t a = 0; a < pointCount; ++a)
            for (std::uint32_t b = 0; b < pointCount; ++b)
                EXPECT_EQ(kept.find(a, b), built.find(a, b));
    } else {
        for (std::size_t e = 0; e < built.edgeCount(); ++e)
            ASSERT_EQ(kept.find(built.higher(e), built.lower(e)), e);
    }
}

// Faces over few points, so edges carry one, two or many faces, with
// repeated faces and faces that name a point twice among them.
Faces randomFaces(std::uint64_t& state, std::size_t count, std::uint32_t pointCount)
{
    Faces faces;
    for (std::size_t i = 0; i < count; ++i)
        faces.push_back({static_cast<std::uint32_t>(nextRandom(state) % pointCount),
                         static_cast<std::uint32_t>(nextRandom(state) % pointCount),
                         static_cast<std::uint32_t>(nextRandom(state) % pointCount)});
    return faces;
}

}  // namespace

TEST(EdgeTable, KeptThroughDropsTurnsAndAppendsReadsAsBuilt)
{
    constexpr std::uint32_t kPoints = 12;
    std::uint64_t state = 11;
    Faces faces = randomFaces(state, 60, kPoints);
    EdgeTable table(faces, kPoints);
    for (int round = 0; round < 40; ++round) {
        // drop about a quarter, the way the steps drop faces
        std::vector<bool> kept(faces.size());
        for (std::size_t f = 0; f < faces.size(); ++f)
            kept[f] = nextRandom(state) % 4 != 0;
        keepMarked(faces, kept);
        table.keepOnly(kept);
        expectSameAsBuilt(table, faces, kPoints);

        // change some faces in place (one named twice), turn one, and append a few
        std::vector<std::uint32_t> changed;
        for (int i = 0; i < 3 && !faces.empty(); ++i) {
            const auto f = static_cast<std::uint32_t>(nextRandom(state) % faces.size());
            faces[f] = randomFaces(state, 1, kPoints)[0];
            changed.push_back(f);
            changed.push_back(f);
        }
        if (!faces.empty()) {
            const auto f = static_cast<std::uint32_t>(nextRandom(state) % faces.size());
            std::swap(faces[f][1], faces[f][2]);
            changed.push_back(f);
        }
        for (const Face& face : randomFaces(state, nextRandom(state) % 20, kPoints))
            faces.push_back(face);
        table.update(faces, changed);
        expectSameAsBuilt(table, faces, kPoints);
    }
}

TEST(EdgeTable, BuildsClosesUpAndMergesOnTwoThreadsAsOnOne)
{
    // Enough edges for the build, the drops and the merges to take two
    // threads; the second run's first edges go as well, where the runs meet.
    constexpr std::uint32_t kPoints = 20000;
    std::uint64_t state = 7;
    Faces faces = randomFaces(state, 40000, kPoints);
    EdgeTable table(faces, kPoints, 2);
    ASSERT_GE(table.edgeCount(), 60000u);
    expectSameAsBuilt(table, faces, kPoints);
    for (int round = 0; round < 2; ++round) {
        const std::size_t meet = table.edgeCount() / 2;
        std::vector<bool> kept(faces.size());
        for (std::size_t f = 0; f < faces.size(); ++f)
            kept[f] = nextRandom(state) % 4 != 0;
        for (std::uint32_t e = 0; e < 3; ++e)
            for (std::uint32_t i = 0; i < table.uses(meet + e); ++i)
                kept[EdgeTable::faceOf(table.use(meet + e, i))] = false;
        keepMarked(faces, kept);
        table.keepOnly(kept);
        expectSameAsBuilt(table, faces, kPoints);
        // and merges changed and new faces in on two threads too
        std::vector<std::uint32_t> changed;
        for (std::uint32_t f = 0; f < faces.size(); f += 7) {
            faces[f] = randomFaces(state, 1, kPoints)[0];
            changed.push_back(f);
        }
        for (const Face& face : randomFaces(state, 3000, kPoints))
            faces.push_back(face);
        table.update(faces, changed);
        expectSameAsBuilt(table, faces, kPoints);
    }
}

TEST(EdgeTable, DropsFacesAppendedSinceItsLastUpdate)
{
    // The refill appends faces, then a later step drops some of them and
    // some old ones before the table has read the new ones.
    Faces faces = {{0, 1, 2}, {2, 1, 3}, {3, 1, 4}};
    EdgeTable table(faces, 6);
    faces.push_back({4, 1, 5});
    faces.push_back({0, 2, 5});
    const std::vector<bool> kept = {true, false, true, false, true};
    keepMarked(faces, kept);
    table.keepOnly(kept);
    EXPECT_EQ(table.faceCount(), 2u);
    table.update(faces);
    expectSameAsBuilt(table, faces, 6);
}

TEST(EdgeTable, EmptiedAndRefilled)
{
    Faces faces = {{0, 1, 2}};
    EdgeTable table(faces, 3);
    keepMarked(faces, {false});
    table.keepOnly({false});
    expectSameAsBuilt(table, faces, 3);
    faces.push_back({0, 2, 1});
    table.update(faces);
    expectSameAsBuilt(table, faces, 3);
}
