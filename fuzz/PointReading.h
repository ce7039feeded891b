#pragma once

#include "geometry/CGVertex.h"
#include "io/PointReadReport.h"

#include <string>
#include <vector>

// All that one call of the point reader gave, kept to be checked or
// compared: whether it read the file, the points in file order, its report.
struct PointReading {
    bool ok = false;
    bool stored = true;  // false: the bytes never reached the reader
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    PointReadReport report;
};

// Reads the point file at path, any layout, three-number lines allowed.
PointReading readPointsAt(const std::string& path);

// Reads bytes as a point file that lives in memory, so a fuzzer never
// touches the disk. Where they cannot be stored, stored and ok are false
// and report.problem says so.
PointReading readPointsInMemory(const std::string& bytes);

// The first fault in the outcome of a reading that must either succeed
// without naming a problem or fail naming one; kind ("PLY") goes into the
// description. Empty when there is none.
std::string findOutcomeFault(const PointReading& reading, const std::string& kind);

// The first point of a successful reading that is not finite, or that has
// a normal though the file has none; empty when there is none.
std::string findPointFault(const PointReading& reading);
