#include "viewer/PngFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(WritePng, ReadsBackTheSamePixelsTopRowFirst)
{
    // Three by two, every pixel different, so a swapped row or channel shows.
    const std::vector<unsigned char> rgb{255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3, 250, 251, 252, 128, 64, 32};
    const std::string path = tempPath("roundtrip.png");
    ASSERT_TRUE(writePng(path, 3, 2, rgb));
    const Image image = readPng(path);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.rgb, rgb);
}

TEST(WritePng, FailureLeavesTheOldFileAlone)
{
    // A folder of the file's name cannot be replaced by a file.
    const std::string path = tempPath("taken.png");
    std::filesystem::create_directory(path);
    EXPECT_FALSE(writePng(path, 1, 1, {0, 0, 0}));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    const std::string name = std::filesystem::path(path).filename().string();
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testing::TempDir()))
        if (entry.path().filename().string().rfind(name, 0) == 0)
            ++entries;
    EXPECT_EQ(entries, 1u);  // no temporary left beside it
    std::filesystem::remove(path);
}

TEST(WritePng, RejectsPixelsThatDoNotFitTheSize)
{
    const std::string path = tempPath("short.png");
    EXPECT_FALSE(writePng(path, 2, 2, {0, 0, 0}));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
