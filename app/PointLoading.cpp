#include "app/PointLoading.h"

#include "io/PointInput.h"
#include "normals/NormalEstimation.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <utility>

bool loadPoints(const std::string& fileName, const LoadOptions& options, LoadReport& report, LoadedPoints& points,
                Progress* progress)
{
    report = LoadReport();
    // Read everything first, so a file that fails part-way leaves the
    // points held before untouched.
    LoadedPoints read;
    // A point takes a few dozen characters; room for as many as the file
    // could hold at 32 each spares copying the lists while they grow, and
    // room never written costs no memory. Only a hint: pipes have no size,
    // and a huge or sparse file must not ask for more than a sane start.
    constexpr std::size_t kMostReserved = std::size_t{1} << 24;
    struct stat status;
    if (::stat(fileName.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        const std::size_t hint = std::min(static_cast<std::size_t>(status.st_size) / 32, kMostReserved);
        read.positions.reserve(hint);
        read.normals.reserve(hint);
    }
    const bool ok = readPoints(
        fileName,
        [&read](const CGVertex& position, const CGVector& normal) {
            read.positions.push_back(position);
            read.normals.push_back(normal);
        },
        options.normals != NormalSource::file, report.read, progress, options.threads);
    if (!ok)
        return false;
    const std::size_t count = read.positions.size();
    if (count > std::numeric_limits<std::uint32_t>::max()) {
        report.read.problem = "more points than 4294967295, the most a file may hold";
        return false;
    }

    // A file of nothing but zero normals carries no normals at all.
    const bool anyNormal = std::any_of(read.normals.begin(), read.normals.end(),
                                       [](const CGVector& n) { return n.x != 0.0 || n.y != 0.0 || n.z != 0.0; });
    const bool some = count > 0;
    report.allNormalsZero = report.read.hasNormals && some && !anyNormal;
    const bool estimate =
        some && (options.normals == NormalSource::estimate ||
                 (options.normals == NormalSource::automatic && (!report.read.hasNormals || report.allNormalsZero)));
    if (estimate) {
        const auto start = std::chrono::steady_clock::now();
        read.normals = estimateNormals(read.positions, options.neighbours, options.threads, progress);
        report.estimated = count;
        report.estimateMilliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    points = std::move(read);
    return true;
}
