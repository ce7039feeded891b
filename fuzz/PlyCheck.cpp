#include "fuzz/PlyCheck.h"

#include "fuzz/PointReading.h"
#include "normals/NormalEstimation.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool isFinite(const CGVector& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Estimation costs more per point than reading; a few hundred points
// already reach every path through it.
constexpr std::size_t kMostEstimated = 400;

}  // namespace

std::string checkPlyInput(const std::uint8_t* data, std::size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.rfind("ply\n", 0) != 0 && bytes.rfind("ply\r\n", 0) != 0)
        bytes.insert(0, "ply\n");

    const PointReading reading = readPointsInMemory(bytes);
    if (!reading.stored)
        return reading.report.problem;
    if (reading.report.layout != PointLayout::ply)
        return "a file starting with \"ply\" was not read as PLY";
    std::string fault = findOutcomeFault(reading, "PLY");
    if (!fault.empty() || !reading.ok)
        return fault;

    // Every vertex read was counted by the header, skipped ones included.
    // Header words are split by spaces or tabs, and a line may begin with
    // either.
    const auto blank = [&bytes](std::size_t i) { return i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t'); };
    std::size_t at = std::string::npos;
    for (std::size_t line = 0; line < bytes.size() && at == std::string::npos;) {
        std::size_t i = line;
        while (blank(i))
            ++i;
        if (bytes.compare(i, 7, "element") == 0 && blank(i + 7)) {
            for (i += 7; blank(i); ++i) {}
            if (bytes.compare(i, 6, "vertex") == 0 && blank(i + 6))
                at = i + 6;
        }
        const std::size_t next = bytes.find('\n', line);
        line = next == std::string::npos ? bytes.size() : next + 1;
    }
    if (at == std::string::npos)
        return "points came from a file without a vertex element";
    const unsigned long long declared = std::strtoull(bytes.c_str() + at, nullptr, 10);
    if (reading.positions.size() + reading.report.notFinite.count > declared)
        return "more vertices read than the header declares";
    std::string pointFault = findPointFault(reading);
    if (!pointFault.empty())
        return pointFault;

    if (reading.positions.size() > kMostEstimated)
        return {};
    const std::vector<CGVector> estimated = estimateNormals(reading.positions, 16);
    if (estimated.size() != reading.positions.size())
        return "estimation gave " + std::to_string(estimated.size()) + " normals for " +
               std::to_string(reading.positions.size()) + " points";
    for (std::size_t i = 0; i < estimated.size(); ++i)
        if (!isFinite(estimated[i]))
            return "an estimated normal that is not finite, point " + std::to_string(i);
    return {};
}
