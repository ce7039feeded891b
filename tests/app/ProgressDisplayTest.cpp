#include "app/ProgressDisplay.h"

#include "SampleShapes.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The terminal's controls: keep the cursor's place, go back to it, clear
// to the end of the line.
const std::string keep = "\033"
                         "7";
const std::string back = "\033"
                         "8";
const std::string clear = "\033[K";

}  // namespace

TEST(ProgressLine, StageShorterThanTheQuietTimeShowsNothing)
{
    Progress progress;
    ProgressLine line(true);
    progress.begin(Progress::Stage::Reading, 1000);
    EXPECT_EQ(line.update(progress, 10.0), "");
    progress.set(900);
    EXPECT_EQ(line.update(progress, 10.4), "");
    EXPECT_EQ(line.settle(progress), "");
    // Settled, the stage stays silent however long the report takes.
    EXPECT_EQ(line.update(progress, 20.0), "");
}

TEST(ProgressLine, InPlaceTextIsRewrittenAtMostTenTimesASecondAndTakenBack)
{
    Progress progress;
    ProgressLine line(true);
    progress.begin(Progress::Stage::Tree, 200);
    EXPECT_EQ(line.update(progress, 0.0), "");
    progress.set(50);
    EXPECT_EQ(line.update(progress, 0.6), keep + "25% of the KD-tree built" + clear);
    progress.set(60);
    EXPECT_EQ(line.update(progress, 0.65), "");
    EXPECT_EQ(line.update(progress, 0.7), back + "30% of the KD-tree built" + clear);

    // A new stage takes back the old text at once and waits its own quiet
    // time.
    progress.begin(Progress::Stage::Triangulating, 200);
    EXPECT_EQ(line.update(progress, 0.8), back + clear);
    progress.set(200);
    EXPECT_EQ(line.update(progress, 1.2), "");
    // Triangles only estimate the share done: never 100% before the end.
    EXPECT_EQ(line.update(progress, 1.3), keep + "99% triangulated" + clear);
    EXPECT_EQ(line.settle(progress), back + clear);
}

TEST(ProgressLine, ElsewhereEachNewTextIsALine)
{
    Progress progress;
    ProgressLine line(false);
    // A pipe has no size to measure against.
    progress.begin(Progress::Stage::Reading, 0);
    progress.set(12'400'000);
    EXPECT_EQ(line.update(progress, 0.0), "");
    EXPECT_EQ(line.update(progress, 0.5), "  progress: 12 MB read\n");
    EXPECT_EQ(line.update(progress, 0.7), "");
    EXPECT_EQ(line.settle(progress), "");
}

TEST(ProgressDisplay, LongRunReportsOnStandardErrorAndLeavesTheReportAlone)
{
    // The linear search over 10,000 points takes over a second in any
    // build: long enough to be shown.
    std::vector<SamplePoint> sample = torusSample(10000, 25.0, 10.0);
    shuffleSample(sample);
    std::string text;
    char row[160];
    for (const SamplePoint& p : sample) {
        std::snprintf(row, sizeof row, "%.6f %.6f %.6f %.6f %.6f %.6f\n", p.x, p.y, p.z, p.nx, p.ny, p.nz);
        text += row;
    }
    const std::string points = testsupport::writeTempFile("progress.xyz", text);

    const ProgramResult result =
        runProgram(TRI3D_BINARY, {"file:" + points, "kd:0", "view:0", "progress:1"}, std::chrono::seconds(300));

    ASSERT_TRUE(result.exitedWith(0)) << result.out << result.err;
    const std::string head = "\nTriangulation in 3D  -  tri3d, surfaces from oriented points\n\n"
                             "  Adding vertices from file... Done!\n  |P| = " +
                             std::to_string(sample.size()) +
                             "\n  Vertex Candidate Search Algorithm: Linear\n"
                             "  Triangulation in progress... Done!\n  - Time: ";
    EXPECT_EQ(result.out.substr(0, head.size()), head);
    EXPECT_EQ(result.out.find('\n', head.size()), result.out.size() - 1);

    // Nothing but progress lines, their figures rising and never 100%.
    ASSERT_FALSE(result.err.empty());
    int last = -1;
    std::size_t at = 0;
    while (at < result.err.size()) {
        const std::size_t end = result.err.find('\n', at);
        ASSERT_NE(end, std::string::npos) << result.err;
        const std::string line = result.err.substr(at, end - at);
        const std::string prefix = "  progress: ";
        const std::string suffix = "% triangulated";
        ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        ASSERT_GT(line.size(), prefix.size() + suffix.size()) << line;
        ASSERT_EQ(line.compare(line.size() - suffix.size(), suffix.size(), suffix), 0) << line;
        const int percent = std::atoi(line.c_str() + prefix.size());
        EXPECT_GT(percent, last) << result.err;
        EXPECT_LT(percent, 100);
        last = percent;
        at = end + 1;
    }
}
