#include "fuzz/ReaderCheck.h"

#include "fuzz/MemoryFile.h"
#include "io/PointFileReader.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

struct Point {
    CGVertex position;
    CGVector normal;
};

bool isFinite(const CGVertex& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool sameBits(const Point& a, const Point& b)
{
    return std::memcmp(&a.position, &b.position, sizeof a.position) == 0 &&
           std::memcmp(&a.normal, &b.normal, sizeof a.normal) == 0;
}

// The file cut at every line feed, a carriage return before it dropped and a
// missing last line feed supplied: the reader's own streaming over a fixed
// buffer must come to the same lines.
std::vector<Point> pointsLineByLine(std::string_view text)
{
    std::vector<Point> points;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line.push_back('\n');
        Point p;
        if (parseLine(line, p.position, p.normal))
            points.push_back(p);
    }
    return points;
}

}  // namespace

std::string checkReaderInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    Point whole;
    if (parseLine(text, whole.position, whole.normal) && !isFinite(whole.position))
        return "parseLine accepted a position that is not finite";

    static MemoryFile file;
    if (!file.assign(data, size))
        return "could not store the input in memory";
    std::vector<Point> read;
    const bool ok = readPointFile(file.path(), [&read](const CGVertex& position, const CGVector& normal) {
        read.push_back({position, normal});
    });
    if (!ok)
        return "readPointFile failed on a readable file";

    const std::vector<Point> expected = pointsLineByLine(text);
    if (read.size() != expected.size())
        return "readPointFile gave " + std::to_string(read.size()) + " points, the lines " +
               std::to_string(expected.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (!isFinite(read[i].position))
            return "readPointFile gave a position that is not finite, point " + std::to_string(i);
        if (!sameBits(read[i], expected[i]))
            return "readPointFile and the lines differ at point " + std::to_string(i);
    }
    return {};
}
