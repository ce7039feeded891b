#include "support/TestSupport.h"

#include "app/PointLoading.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace testsupport {

namespace {

    // Every temporary path handed out, removed when the test program ends.
    std::vector<std::string>& temporaries()
    {
        struct Paths {
            std::vector<std::string> list;
            ~Paths()
            {
                std::error_code ignored;
                for (const std::string& path : list)
                    std::filesystem::remove_all(path, ignored);
            }
        };
        static Paths paths;
        return paths.list;
    }

}  // namespace

std::string tempPath(const std::string& name)
{
    // ctest runs tests side by side, each in its own process.
    const std::string path = testing::TempDir() + "tri3d-" + std::to_string(getpid()) + "-" + name;
    std::remove(path.c_str());
    temporaries().push_back(path);
    return path;
}

std::string writeTempFile(const std::string& name, const std::string& text)
{
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void loadPoints(Reconstruct& r, const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream numbers(line);
        CGVertex p;
        CGVector n;
        if (numbers >> p.x >> p.y >> p.z >> n.x >> n.y >> n.z)
            r.addNode(p, n);
    }
}

bool loadFile(Reconstruct& r, const std::string& path)
{
    LoadReport report;
    LoadedPoints points;
    if (!loadPoints(path, LoadOptions(), report, points))
        return false;
    r.setPoints(points.positions, points.normals);
    return true;
}

int threadsRunning()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        static_cast<void>(entry);
        ++count;
    }
    return count;
}

}  // namespace testsupport
