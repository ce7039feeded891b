#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "io/PointReadReport.h"

#include <cstddef>
#include <string>
#include <vector>

// Where the points' normals come from.
enum class NormalSource {
    file,       // as the file gives them: zero where it gives none, x y z lines skipped
    automatic,  // the file's; estimated when it has none or every one is zero
    estimate,   // always estimated
};

struct LoadOptions {
    NormalSource normals = NormalSource::file;
    unsigned neighbours = 16;  // how many neighbours an estimate looks at
    unsigned threads = 0;      // the most reading and an estimate run on; 0: every core
};

// What loading found beyond the points themselves.
struct LoadReport {
    PointReadReport read;         // layout, skipped lines, why a file was refused
    bool allNormalsZero = false;  // the file gave normals, and every one was zero
    std::size_t estimated = 0;    // points whose normals were estimated
    double estimateMilliseconds = 0.0;
};

// The points of a file as the engine takes them: one normal per position.
struct LoadedPoints {
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
};

// Reads every layout a point file can have (text, x y z, PLY) into points,
// with the normals from where options say. False when the file cannot be
// opened or read to its end, is refused (report.read.problem says why), or
// holds more points than a node index can count; points is then left as it
// was. Where progress is given, reading and estimating count there.
bool loadPoints(const std::string& fileName, const LoadOptions& options, LoadReport& report, LoadedPoints& points,
                Progress* progress = nullptr);
