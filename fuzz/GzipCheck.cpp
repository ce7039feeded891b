#include "fuzz/GzipCheck.h"

#include "fuzz/MemoryFile.h"
#include "io/GzipInput.h"
#include "io/PointInput.h"

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Reading {
    bool ok = false;
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    PointReadReport report;
};

Reading readBytes(const std::string& bytes)
{
    static MemoryFile file;
    Reading result;
    if (!file.assign(bytes.data(), bytes.size())) {
        result.report.problem = "could not store the input in memory";
        return result;
    }
    result.ok = readPoints(
        file.path(),
        [&result](const CGVertex& position, const CGVector& normal) {
            result.positions.push_back(position);
            result.normals.push_back(normal);
        },
        true, result.report);
    return result;
}

std::string gzipped(const std::string& text)
{
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}

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
        const std::string packed = gzipped(bytes);
        if (packed.empty())
            return "zlib could not compress the input";
        const Reading plain = readBytes(bytes);
        const Reading unpacked = readBytes(packed);
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
    const Reading raw = readBytes(stream);
    if (!raw.ok && raw.report.problem.empty())
        return "a gzip stream was refused without a reason";
    return {};
}
