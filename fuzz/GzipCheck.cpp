#include "fuzz/GzipCheck.h"

#include "fuzz/GzipBytes.h"
#include "fuzz/PointReading.h"
#include "io/GzipInput.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

bool sameSkips(const Skipped& a, const Skipped& b)
{
    return a.count == b.count && a.first == b.first;
}

}  // namespace

std::string checkGzipInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // A gzip file inside a gzip file is no file the reader unpacks twice.
    if (!startsLikeGzip(bytes)) {
        const std::string packed = gzipped(bytes, 6);
        if (packed.empty())
            return "zlib could not compress the input";
        const PointReading plain = readPointsInMemory(bytes);
        const PointReading unpacked = readPointsInMemory(packed);
        if (plain.ok != unpacked.ok)
            return "gzip changed whether the file could be read: " + plain.report.problem + " / " +
                   unpacked.report.problem;
        if (plain.report.problem != unpacked.report.problem)
            return "gzip changed the reason: " + plain.report.problem + " / " + unpacked.report.problem;
        const PointReadReport& a = plain.report;
        const PointReadReport& b = unpacked.report;
        if (a.layout != b.layout || a.hasNormals != b.hasNormals || !sameSkips(a.fewerThanSix, b.fewerThanSix) ||
            !sameSkips(a.notThreeNumbers, b.notThreeNumbers) || !sameSkips(a.notFinite, b.notFinite) ||
            !sameSkips(a.notNumbers, b.notNumbers))
            return "gzip changed the report of what was read";
        if (plain.positions.size() != unpacked.positions.size())
            return "gzip changed the number of points";
        for (std::size_t i = 0; i < plain.positions.size(); ++i)
            if (std::memcmp(&plain.positions[i], &unpacked.positions[i], sizeof(CGVertex)) != 0 ||
                std::memcmp(&plain.normals[i], &unpacked.normals[i], sizeof(CGVector)) != 0)
                return "gzip changed point " + std::to_string(i);
    }

    // The bytes as a stream of their own: most are corrupt, and must say so.
    std::string stream = bytes;
    if (!startsLikeGzip(stream))
        stream.insert(0, "\x1f\x8b");
    const PointReading raw = readPointsInMemory(stream);
    if (!raw.ok && raw.report.problem.empty())
        return "a gzip stream was refused without a reason";
    return {};
}
