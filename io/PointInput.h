#pragma once

#include "io/PointFileReader.h"
#include "io/PointReadReport.h"

#include <string>

// Reads a point file of any layout, told apart by its content: a PLY file
// when the first line is "ply", text otherwise (see readPointStream for
// threeNumbersAllowed). Hands every usable point to sink in file order.
// False when the file cannot be opened or read to its end, or when it is a
// PLY file this reader refuses (the reason in report.problem); the sink may
// have been called before. Where progress is given, the bytes read count
// there, out of the file's size (unknown for a pipe).
bool readPoints(const std::string& fileName, const PointSink& sink, bool threeNumbersAllowed, PointReadReport& report,
                Progress* progress = nullptr);
