// Whatever file a user hands the program, it must end with a clear outcome:
// "Done!" with a sensible point count and exit code 0, or "Failed!" with the
// error line and exit code 1. Never a signal, never a hang, never a word on
// standard error (which is where a sanitizer would report). Each case runs
// the real program on a file written for it, without a window.

#include "app/Console.h"
#include "support/Process.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::readFile;

// Far above any case's run time in any of our builds; reaching it means the
// program hangs or has gone quadratic where it must not.
constexpr std::chrono::seconds kTimeLimit = 120s;

std::string samplePath()
{
    return std::string(TRI3D_SOURCE_DIR) + "/samples/sphere.xyz";
}

std::string lines(std::size_t count, const std::string& line)
{
    std::string text;
    text.reserve(count * line.size());
    for (std::size_t i = 0; i < count; ++i)
        text += line;
    return text;
}

ProgramResult runOn(const std::string& file, std::vector<std::string> more = {})
{
    std::vector<std::string> args{"file:" + file, "view:0"};
    args.insert(args.end(), more.begin(), more.end());
    return runProgram(TRI3D_BINARY, args, kTimeLimit);
}

std::string banner()
{
    std::ostringstream out;
    printBanner(out);
    return out.str();
}

// Standard error without the program's own notes (what a load skipped or
// estimated, why a step failed): anything else there (a sanitizer's
// report, say) is a fault.
std::string withoutLoadNotes(const std::string& err)
{
    std::istringstream in(err);
    std::string rest;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("tri3d: ", 0) != 0)
            rest += line + "\n";
    return rest;
}

testing::AssertionResult endedWith(const ProgramResult& run, int code)
{
    if (!run.started)
        return testing::AssertionFailure() << "could not start " << TRI3D_BINARY;
    if (run.timedOut)
        return testing::AssertionFailure() << "still running after " << kTimeLimit.count() << " s; output so far:\n"
                                           << run.out;
    if (run.signal != 0)
        return testing::AssertionFailure() << "ended by signal " << run.signal << "\n" << run.out << run.err;
    if (run.exitCode != code)
        return testing::AssertionFailure() << "exit code " << run.exitCode << ", expected " << code << "\n"
                                           << run.out << run.err;
    if (!withoutLoadNotes(run.err).empty())
        return testing::AssertionFailure() << "wrote to standard error:\n" << run.err;
    return testing::AssertionSuccess();
}

// The report of a run that loaded and triangulated, up to the time; the
// milliseconds themselves vary.
void expectDone(const ProgramResult& run, std::size_t points)
{
    ASSERT_TRUE(endedWith(run, 0));
    const std::string head = banner() + "  Adding vertices from file... Done!\n" + "  |P| = " + std::to_string(points) +
                             "\n" + "  Vertex Candidate Search Algorithm: KD-tree\n" +
                             "  Triangulation in progress... Done!\n" + "  - Time: ";
    ASSERT_EQ(run.out.substr(0, head.size()), head) << run.out;
    const std::string time = run.out.substr(head.size());
    const std::size_t digits = time.find_first_not_of("0123456789");
    EXPECT_TRUE(digits > 0 && digits != std::string::npos && time.substr(digits) == " milliseconds\n") << run.out;
}

void expectLoadFailure(const ProgramResult& run, const std::string& name)
{
    ASSERT_TRUE(endedWith(run, 1));
    EXPECT_EQ(run.out,
              banner() + "  Adding vertices from file... Failed!\n" + "  -  Error loading file \"" + name + "\"\n");
}

// The sample with `positionSuffix` appended to every coordinate and
// `normalPrefix` put before every normal component: "e300" scales the
// positions up, and "nan" turns every normal into not-a-number (the number
// conversion stops after it).
std::string sampleWith(const std::string& positionSuffix, const std::string& normalPrefix)
{
    std::istringstream in(readFile(samplePath()));
    std::string text;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string word;
        for (int i = 0; i < 6 && words >> word; ++i)
            text += (i < 3 ? word + positionSuffix : normalPrefix + word) + (i < 5 ? " " : "\n");
    }
    return text;
}

// The eight corners of a cube of half-size `size`, normals outward.
std::string cube(const std::string& size)
{
    std::string text;
    for (const char* x : {"-", ""})
        for (const char* y : {"-", ""})
            for (const char* z : {"-", ""})
                text += x + size + " " + y + size + " " + z + size + " " + x + "1 " + y + "1 " + z + "1\n";
    return text;
}

// The point count a finished run reported, or -1 without one.
long reportedPoints(const ProgramResult& run)
{
    const std::string label = "\n  |P| = ";
    const std::size_t at = run.out.find(label);
    if (at == std::string::npos)
        return -1;
    return std::strtol(run.out.c_str() + at + label.size(), nullptr, 10);
}

// Each test writes its files under its own names, with the process id in
// them so that test runs in other build folders never share a file, and
// removes them when it ends.
class TempFileTest : public testing::Test {
protected:
    void TearDown() override
    {
        std::error_code ignored;
        for (const std::string& path : made_)
            std::filesystem::remove_all(path, ignored);
    }

    std::string tempPath(const std::string& name)
    {
        made_.push_back(testing::TempDir() + "tri3d-hostile-" + std::to_string(getpid()) + "-" + name);
        return made_.back();
    }

    std::string writeFile(const std::string& name, const std::string& bytes)
    {
        const std::string path = tempPath(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    std::vector<std::string> made_;
};

using HostileInput = TempFileTest;
using HostileLoad = TempFileTest;

}  // namespace

// --- Few or no points -----------------------------------------------------

TEST_F(HostileInput, EmptyFileGivesNoPoints)
{
    expectDone(runOn(writeFile("empty.xyz", "")), 0);
}

TEST_F(HostileInput, OneTwoAndThreePointsAreTooFewOrJustEnough)
{
    const std::string points[] = {"0 0 0 0 0 1\n", "1 0 0 0 0 1\n", "0 1 0 0 0 1\n"};
    std::string text;
    for (std::size_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        text += points[n - 1];
        expectDone(runOn(writeFile("few.xyz", text)), n);
    }
}

// --- Degenerate geometry --------------------------------------------------

TEST_F(HostileInput, ThousandCopiesOfOnePoint)
{
    // Every triangle among coincident points has zero area.
    expectDone(runOn(writeFile("copies-1k.xyz", lines(1000, "1 2 3 0 0 1\n"))), 1000);
}

TEST_F(HostileInput, HundredThousandCopiesOfOnePoint)
{
    expectDone(runOn(writeFile("copies-100k.xyz", lines(100000, "1 2 3 0 0 1\n"))), 100000);
}

TEST_F(HostileInput, TenThousandPointsOnOneLine)
{
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += std::to_string(i) + " " + std::to_string(2 * i) + " " + std::to_string(3 * i) + " 0 0 1\n";
    expectDone(runOn(writeFile("line.xyz", text)), 10000);
}

TEST_F(HostileInput, SortedPlanarGrid)
{
    // Sorted input is the worst case for a tree built by naive splitting,
    // and a plane gives endless equal distances.
    std::string text;
    for (int x = 0; x < 300; ++x)
        for (int y = 0; y < 300; ++y)
            text += std::to_string(x) + " " + std::to_string(y) + " 0 0 0 1\n";
    expectDone(runOn(writeFile("grid.xyz", text)), 90000);
}

TEST_F(HostileInput, EveryPointOfASampleTwice)
{
    const std::string sample = readFile(samplePath());
    ASSERT_FALSE(sample.empty());
    expectDone(runOn(writeFile("twice.xyz", sample + sample)), 4000);

    // Each point right after its copy: the nearest neighbour is always at
    // distance zero.
    std::istringstream in(sample);
    std::string text;
    for (std::string line; std::getline(in, line);)
        text += line + "\n" + line + "\n";
    expectDone(runOn(writeFile("twice-adjacent.xyz", text)), 4000);
}

// --- Numbers at and beyond the limits of a double -------------------------

TEST_F(HostileInput, NonFinitePositionsAreSkippedAndNonFiniteNormalsKept)
{
    const std::string text = "nan 0 0 0 0 1\n"
                             "0 inf 0 0 0 1\n"
                             "0 0 1e400 0 0 1\n"
                             "-inf -nan -1e400 0 0 1\n"
                             "0 0 0 nan 0 1\n"
                             "1 0 0 0 inf 0\n"
                             "0 1 0 0 0 1e400\n"
                             "0 0 1 -inf nan -1e400\n";
    const ProgramResult run = runOn(writeFile("non-finite.xyz", text));
    expectDone(run, 4);
    EXPECT_EQ(run.err, "tri3d: skipped 4 lines whose position is not finite (first: line 1)\n");
}

TEST_F(HostileInput, NonFiniteNormalsThroughASample)
{
    // "nan0.29" is a number only to the plain reading, which normals:file keeps.
    expectDone(runOn(writeFile("odd-normals.xyz", sampleWith("", "nan")), {"normals:file"}), 2000);
    expectDone(runOn(writeFile("odd-normals.xyz", sampleWith("", "-inf")), {"normals:file"}), 2000);
}

TEST_F(HostileInput, CoordinatesNearTheLargestDouble)
{
    // Differences and squared distances overflow to infinity.
    expectDone(runOn(writeFile("huge-cube.xyz", cube("1e300"))), 8);
    expectDone(runOn(writeFile("huge-sample.xyz", sampleWith("e300", ""))), 2000);
}

TEST_F(HostileInput, CoordinatesNearTheSmallestDouble)
{
    // Squared distances underflow to zero: every point seems to coincide.
    expectDone(runOn(writeFile("tiny-cube.xyz", cube("1e-300"))), 8);
    expectDone(runOn(writeFile("tiny-sample.xyz", sampleWith("e-300", ""))), 2000);
}

// --- Bytes that are no text at all ----------------------------------------

TEST_F(HostileInput, RandomBinaryBytes)
{
    // A fixed generator, so the file is the same on every run.
    std::uint64_t state = 6;
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        c = static_cast<char>(state >> 56);
    }
    const std::string file = writeFile("random.bin", bytes);
    expectLoadFailure(runOn(file), file);
    // normals:file reads any bytes as the plain reader does.
    const ProgramResult run = runOn(file, {"normals:file"});
    ASSERT_TRUE(endedWith(run, 0));
    const long points = reportedPoints(run);
    EXPECT_GE(points, 0) << run.out;
    EXPECT_LE(points, static_cast<long>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
}

// --- Lines of unusual length ----------------------------------------------

TEST_F(HostileInput, FiftyMegabyteLine)
{
    // Only the first six numbers of a line count, however long it goes on.
    std::string text = "1 2 3 0 0 1";
    text.reserve(50u << 20);
    while (text.size() < (50u << 20))
        text += " 7";
    const std::string path = writeFile("long-line.xyz", text + "\n");
    text.clear();
    text.shrink_to_fit();
    expectDone(runOn(path), 1);
}

TEST_F(HostileInput, FiftyMegabyteComment)
{
    // A comment stays one comment however long: its tail never becomes a
    // point. The point after it is read.
    std::string text = "//";
    text.append(50u << 20, 'x');
    text += " 1 2 3 4 5 6\n4 5 6 0 0 1\n";
    const std::string path = writeFile("long-comment.xyz", text);
    text.clear();
    text.shrink_to_fit();
    expectDone(runOn(path), 1);
}

TEST_F(HostileInput, LineOfAMillionTokens)
{
    std::string text;
    for (int i = 0; i < 1000000; ++i)
        text += std::to_string(i % 10) + " ";
    expectDone(runOn(writeFile("many-tokens.xyz", text + "\n")), 1);
}

// --- Line endings ---------------------------------------------------------

TEST_F(HostileInput, CrlfFileReadsLikeItsLineFeedTwin)
{
    std::istringstream in(readFile(samplePath()));
    std::string text;
    for (std::string line; std::getline(in, line);)
        text += line + "\r\n";
    expectDone(runOn(writeFile("crlf.xyz", text)), 2000);
}

TEST_F(HostileInput, LastLineWithoutLineFeedIsRead)
{
    expectDone(runOn(writeFile("no-final-lf.xyz", "0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1")), 3);
}

// --- Paths that are no readable file --------------------------------------

TEST_F(HostileLoad, DirectoryFails)
{
    const std::string path = tempPath("folder");
    std::filesystem::create_directories(path);
    expectLoadFailure(runOn(path), path);
}

TEST_F(HostileLoad, MissingFileFails)
{
    const std::string path = tempPath("does-not-exist.xyz");
    expectLoadFailure(runOn(path), path);
}

TEST_F(HostileLoad, FileWithoutReadPermissionFails)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads files regardless of their permission bits";
    const std::string path = writeFile("no-read.xyz", "0 0 0 0 0 1\n");
    chmod(path.c_str(), 0);
    expectLoadFailure(runOn(path), path);
}

TEST_F(HostileLoad, ReadErrorPartWayFails)
{
    // Opens for anyone, root included, but the first read fails: the start
    // of the address space is never mapped.
    expectLoadFailure(runOn("/proc/self/mem"), "/proc/self/mem");
}

TEST_F(HostileLoad, EndlessDeviceFails)
{
    // A file that never ends must not be read until memory runs out.
    expectLoadFailure(runOn("/dev/zero"), "/dev/zero");
}

TEST_F(HostileLoad, FifoWithoutWriterReadsAsEmpty)
{
    // Nobody writes into it: rather than wait for ever, it reads as empty.
    // (A pipe with a writer, such as a shell's process substitution, is
    // read to its end like any file.)
    const std::string path = tempPath("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    expectDone(runOn(path), 0);
}

// --- Writing the mesh where it cannot go ----------------------------------

class HostileExport : public TempFileTest {
protected:
    void SetUp() override { input_ = writeFile("export-input.xyz", "0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n"); }

    // The export reports its failure with the file name and its cause,
    // before the load where the cause can be seen then, and the run fails.
    void expectWriteFailure(const std::string& out)
    {
        const ProgramResult run = runOn(input_, {"out:" + out});
        ASSERT_TRUE(endedWith(run, 1));
        EXPECT_EQ(run.err.rfind("tri3d: ", 0), 0u) << run.err;
        const std::string tail = "Failed!\n  -  Error writing file \"" + out + "\"\n";
        ASSERT_GE(run.out.size(), tail.size()) << run.out;
        EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
    }

    std::string input_;
};

TEST_F(HostileExport, IntoAMissingFolderFails)
{
    expectWriteFailure(tempPath("no-such-folder") + "/mesh.obj");
}

TEST_F(HostileExport, BelowAPlainFileFails)
{
    // A file is no folder, for root too.
    expectWriteFailure(writeFile("plain-file", "x") + "/mesh.obj");
}

TEST_F(HostileExport, IntoAReadOnlyPlaceFails)
{
    // Nobody, root included, creates files in /proc.
    expectWriteFailure("/proc/tri3d-mesh.obj");
}

TEST_F(HostileExport, OntoAFullDiskFails)
{
    // Opening succeeds; every write fails as on a full disk, so only a
    // checked write or close notices.
    expectWriteFailure("/dev/full");
}
