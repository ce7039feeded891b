#pragma once

#include <string>

class Progress;
struct Surface;

// Writes the points and faces of a finished surface to a mesh file whose
// format follows the name's extension, in any letter case: ".ply" (binary,
// little-endian), ".obj" or ".off" (text), or ".stl" (binary, positions
// rounded to float, no shared vertices). Every point becomes a vertex, in
// file order; every triangle a face, in recorded order. The file appears
// whole or not at all. False on an unknown extension or any write failure.
// Where progress is given, every point and face written counts there; where
// why is given, a failure leaves its cause there when the system named one.
bool writeMesh(const std::string& fileName, const Surface& result, Progress* progress = nullptr,
               std::string* why = nullptr);

// Why writeMesh could not write fileName, found without writing anything:
// an extension it does not know, or a folder that is missing, no folder or
// not writable. Empty when nothing stands in the way yet.
std::string meshTargetProblem(const std::string& fileName);
