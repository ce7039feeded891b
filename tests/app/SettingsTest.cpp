#include "app/Settings.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Settings scan(std::vector<const char*> words)
{
    words.insert(words.begin(), "tri3d");
    return scanCommandLine(static_cast<int>(words.size()), words.data());
}

}  // namespace

TEST(ScanCommandLine, DefaultsWithoutWords)
{
    const Settings s = scan({});
    EXPECT_EQ(s.file, "");
    EXPECT_TRUE(s.kd);
    EXPECT_TRUE(s.dots);
    EXPECT_TRUE(s.mesh);
    EXPECT_FALSE(s.tri);
    EXPECT_EQ(s.zoom, -25.0);
    EXPECT_EQ(s.transx, 0.0);
    EXPECT_EQ(s.transy, 0.0);
    EXPECT_TRUE(s.view);
    EXPECT_FALSE(s.fit);  // the fixed camera stays the default view
    EXPECT_EQ(s.angle, 0.0);
    EXPECT_FALSE(s.report);
    EXPECT_FALSE(s.clean);
    EXPECT_EQ(s.holes, 30u);
    EXPECT_EQ(s.normals, "auto");
    EXPECT_EQ(s.neighbours, 16);
}

TEST(ScanCommandLine, HolesIsACountNeverBelowZero)
{
    EXPECT_EQ(scan({"holes:100"}).holes, 100u);
    EXPECT_EQ(scan({"holes:-5"}).holes, 0u);
    EXPECT_EQ(scan({"holes:abc"}).holes, 0u);
}

// A negative frame count is not read as a huge one: it means 0, until the
// window is closed, as any other count without digits.
TEST(ScanCommandLine, FramesIsACountNeverBelowZero)
{
    EXPECT_EQ(scan({}).frames, 0u);
    EXPECT_EQ(scan({"frames:250"}).frames, 250u);
    EXPECT_EQ(scan({"frames:-5"}).frames, 0u);
}

TEST(ScanCommandLine, LeftmostOccurrenceWins)
{
    EXPECT_EQ(scan({"file:a.txt", "file:b.txt"}).file, "a.txt");
    EXPECT_FALSE(scan({"kd:0", "kd:1"}).kd);
}

TEST(ScanCommandLine, OnlyTheFirstColonSplits)
{
    EXPECT_EQ(scan({"file:C:\\data\\pts.txt"}).file, "C:\\data\\pts.txt");
    EXPECT_EQ(scan({"out:a:b.ply"}).out, "a:b.ply");
}

TEST(ScanCommandLine, FlagsFollowTheIntegerRule)
{
    EXPECT_FALSE(scan({"kd:abc"}).kd);
    EXPECT_FALSE(scan({"kd:0x1"}).kd);
    EXPECT_FALSE(scan({"kd:0"}).kd);
    EXPECT_FALSE(scan({"kd:"}).kd);
    EXPECT_TRUE(scan({"kd:-1"}).kd);
    EXPECT_TRUE(scan({"kd:2"}).kd);
    EXPECT_TRUE(scan({"kd:  +7z"}).kd);
    EXPECT_TRUE(scan({"kd:99999999999999999999"}).kd);
    EXPECT_TRUE(scan({"tri:1"}).tri);
}

TEST(ScanCommandLine, NumbersFollowTheFloatingPointRule)
{
    EXPECT_EQ(scan({"zoom:abc"}).zoom, 0.0);
    EXPECT_EQ(scan({"zoom:-1e1"}).zoom, -10.0);
    EXPECT_EQ(scan({"transx:2.5m"}).transx, 2.5);
    EXPECT_EQ(scan({"transy:-.5"}).transy, -0.5);
}

TEST(ScanCommandLine, UnknownKeysAndBareWordsAreIgnored)
{
    const Settings s = scan({"Dots:0", "KD:0", "dots", "colour:red", ":1"});
    EXPECT_TRUE(s.dots);
    EXPECT_TRUE(s.kd);
}

TEST(ScanCommandLine, ProgramNameIsScannedToo)
{
    const char* words[] = {"file:from-argv0", "kd:0"};
    EXPECT_EQ(scanCommandLine(2, words).file, "from-argv0");
}
