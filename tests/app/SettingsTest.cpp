#include "app/Settings.h"

#include "app/Console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
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

TEST(ScanCommandLine, WordsThatSetNothingAreListedInOrder)
{
    const Settings s = scan({"scan.ply", "ouput:m.ply", "--help", "KD:0", "other", "-h"});
    EXPECT_TRUE(s.help);
    EXPECT_EQ(s.unknownKeys, (std::vector<std::string>{"ouput", "KD"}));
    // The program's name is no word of the user's.
    EXPECT_EQ(s.bareWords, (std::vector<std::string>{"scan.ply", "other"}));
    EXPECT_TRUE(scan({"file:a", "kd:0", "normals:file"}).unknownKeys.empty());
}

TEST(ClosestKey, SlipsOfTypingFindTheirKey)
{
    EXPECT_EQ(closestKey("ouput"), "out");
    EXPECT_EQ(closestKey("output"), "out");  // the key is the word's start
    EXPECT_EQ(closestKey("normal"), "normals");
    EXPECT_EQ(closestKey("KD"), "kd");
    EXPECT_EQ(closestKey("neighbors"), "neighbours");
    EXPECT_EQ(closestKey("flie"), "file");  // two letters swapped
    // Nothing close: no guess, rather than a wild one.
    EXPECT_EQ(closestKey("colour"), "");
    EXPECT_EQ(closestKey("xy"), "");
    EXPECT_EQ(closestKey(""), "");
}

TEST(ClosestKey, EveryKeyTheHelpListsIsKnown)
{
    // The help texts and the list behind the suggestions must not drift.
    std::ostringstream help;
    printUsage(help);
    printMoreOptions(help);
    std::vector<std::string> listed;
    std::istringstream lines(help.str());
    for (std::string line; std::getline(lines, line);) {
        const std::size_t start = line.find_first_not_of(' ');
        const std::size_t colon = line.find(":<");
        if (start == 2 && colon != std::string::npos)
            listed.push_back(line.substr(2, colon - 2));
    }
    std::vector<std::string> known = knownKeys();
    std::sort(listed.begin(), listed.end());
    std::sort(known.begin(), known.end());
    EXPECT_EQ(listed, known);
    for (const std::string& key : known) {
        const std::string word = key + ":1";
        EXPECT_TRUE(scan({word.c_str()}).unknownKeys.empty()) << key;
    }
}
