#include "fuzz/ReaderCheck.h"

#include "fuzz/MemoryFile.h"
#include "io/PointFileReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
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

bool sameDouble(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The line rules in their plainest form, each token gathered into a string
// and read by strtod: the reader's one-pass scan and fast conversion must
// give the same points, bit for bit.
bool referenceParseLine(std::string_view line, Point& point)
{
    line = line.substr(0, line.find('\0'));
    if (line.empty() || line.substr(0, 2) == "//" || line == "\n")
        return false;
    double numbers[6];
    int count = 0;
    std::string token;
    for (std::size_t i = 0; i < line.size() && count < 6; ++i) {
        if (line[i] != ' ' && line[i] != '\n') {
            token.push_back(line[i]);
        } else if (!token.empty()) {
            numbers[count++] = std::strtod(token.c_str(), nullptr);
            token.clear();
        }
    }
    if (count != 6 || !std::isfinite(numbers[0]) || !std::isfinite(numbers[1]) || !std::isfinite(numbers[2]))
        return false;
    point = {{numbers[0], numbers[1], numbers[2]}, {numbers[3], numbers[4], numbers[5]}};
    return true;
}

std::string checkAgainstReference(std::string_view line)
{
    Point read;
    Point expected;
    const bool readOk = parseLine(line, read.position, read.normal);
    if (readOk != referenceParseLine(line, expected))
        return readOk ? "parseLine accepted a line the plain rules skip"
                      : "parseLine skipped a line the plain rules accept";
    if (readOk && !sameBits(read, expected))
        return "parseLine and the plain rules read different numbers";
    return {};
}

// Every token of the text, cut at the separators and at zero bytes, read
// both by the reader's own conversions and by strtod on a terminated copy.
std::string checkTokens(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find_first_of(std::string_view(" \n\0", 3), start);
        if (stop == std::string_view::npos)
            stop = text.size();
        if (stop > start) {
            const std::string token(text.substr(start, stop - start));
            const double expected = std::strtod(token.c_str(), nullptr);
            double fast;
            if (fastTokenValue(token, fast) && !sameDouble(fast, expected))
                return "the fast conversion and strtod differ on \"" + token + "\"";
            if (!sameDouble(tokenValue(token), expected))
                return "tokenValue and strtod differ on \"" + token + "\"";
        }
        start = stop + 1;
    }
    return {};
}

}  // namespace

std::string checkReaderInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string tokenFault = checkTokens(text);
    if (!tokenFault.empty())
        return tokenFault;

    Point whole;
    if (parseLine(text, whole.position, whole.normal) && !isFinite(whole.position))
        return "parseLine accepted a position that is not finite";
    std::string fault = checkAgainstReference(text);
    for (std::size_t start = 0; fault.empty() && start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        fault = checkAgainstReference(text.substr(start, end - start));
        start = end;
    }
    if (!fault.empty())
        return fault;

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
