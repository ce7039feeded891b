// Replays the seed corpus and every input a fuzzer ever failed on through
// the same checks the fuzzers run, in the ordinary test builds.

#include "fuzz/GzipCheck.h"
#include "fuzz/PcdCheck.h"
#include "fuzz/PipelineCheck.h"
#include "fuzz/PlyCheck.h"
#include "fuzz/ReaderCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> keptInputs(const std::string& target)
{
    std::vector<fs::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path folder = fs::path(TRI3D_FUZZ_DIR) / kind / target;
        if (!fs::is_directory(folder))
            continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> bytesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Check>
void replay(const std::string& target, Check check)
{
    const std::vector<fs::path> files = keptInputs(target);
    ASSERT_FALSE(files.empty()) << "no kept inputs for " << target;
    for (const fs::path& file : files) {
        const std::vector<std::uint8_t> bytes = bytesOf(file);
        EXPECT_EQ(check(bytes.data(), bytes.size()), "") << file;
    }
}

}  // namespace

TEST(KeptFuzzInputs, ReaderGivesTheSamePointsAsTheLines)
{
    replay("reader", checkReaderInput);
}

TEST(KeptFuzzInputs, PlyReaderGivesFinitePointsOrAReason)
{
    replay("ply", checkPlyInput);
}

TEST(KeptFuzzInputs, PipelineKeepsTheMeshIntact)
{
    replay("pipeline", checkPipelineInput);
}

TEST(KeptFuzzInputs, PcdReaderGivesFinitePointsOrAReason)
{
    replay("pcd", checkPcdInput);
}

TEST(KeptFuzzInputs, GzipReadsAsTheBytesItHolds)
{
    replay("gzip", checkGzipInput);
}
