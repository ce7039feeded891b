#include "fuzz/PcdCheck.h"

#include "fuzz/MemoryFile.h"
#include "io/PcdReader.h"
#include "io/PointInput.h"

#include <cmath>
#include <string>
#include <vector>

std::string checkPcdInput(const std::uint8_t* data, std::size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!startsLikePcd(bytes))
        bytes.insert(0, "# .PCD v0.7\n");

    static MemoryFile file;
    if (!file.assign(bytes.data(), bytes.size()))
        return "could not store the input in memory";
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    PointReadReport report;
    const bool ok = readPoints(
        file.path(),
        [&](const CGVertex& position, const CGVector& normal) {
            positions.push_back(position);
            normals.push_back(normal);
        },
        true, report);
    if (report.layout != PointLayout::pcd)
        return "a file starting like PCD was not read as PCD";
    if (!ok)
        return report.problem.empty() ? "a PCD file was refused without a reason" : std::string();
    if (!report.problem.empty())
        return "a PCD file was read, yet a problem was named: " + report.problem;
    // No point takes less than one byte in any kind of data but
    // binary_compressed, whose data unpacks at most 88-fold.
    if (positions.size() + report.notFinite.count > 88 * bytes.size())
        return "more points than the file could hold";
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (!std::isfinite(positions[i].x) || !std::isfinite(positions[i].y) || !std::isfinite(positions[i].z))
            return "a position that is not finite, point " + std::to_string(i);
        if (!report.hasNormals && (normals[i].x != 0.0 || normals[i].y != 0.0 || normals[i].z != 0.0))
            return "a file without normals gave a normal, point " + std::to_string(i);
    }
    return {};
}
