#include "fuzz/PointReading.h"

#include "fuzz/MemoryFile.h"
#include "io/PointInput.h"

#include <cmath>

PointReading readPointsAt(const std::string& path)
{
    PointReading result;
    result.ok = readPoints(
        path,
        [&result](const CGVertex& position, const CGVector& normal) {
            result.positions.push_back(position);
            result.normals.push_back(normal);
        },
        true, result.report);
    return result;
}

PointReading readPointsInMemory(const std::string& bytes)
{
    static MemoryFile file;
    if (!file.assign(bytes.data(), bytes.size())) {
        PointReading result;
        result.stored = false;
        result.report.problem = "could not store the input in memory";
        return result;
    }
    return readPointsAt(file.path());
}

std::string findOutcomeFault(const PointReading& reading, const std::string& kind)
{
    if (!reading.ok)
        return reading.report.problem.empty() ? "a " + kind + " file was refused without a reason" : std::string();
    if (!reading.report.problem.empty())
        return "a " + kind + " file was read, yet a problem was named: " + reading.report.problem;
    return {};
}

std::string findPointFault(const PointReading& reading)
{
    for (std::size_t i = 0; i < reading.positions.size(); ++i) {
        const CGVertex& position = reading.positions[i];
        const CGVector& normal = reading.normals[i];
        if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(position.z))
            return "a position that is not finite, point " + std::to_string(i);
        if (!reading.report.hasNormals && (normal.x != 0.0 || normal.y != 0.0 || normal.z != 0.0))
            return "a file without normals gave a normal, point " + std::to_string(i);
    }
    return {};
}
