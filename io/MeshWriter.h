#pragma once

#include "geometry/Surface.h"

#include <cstddef>
#include <string>

class Progress;

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

// Whether writeMesh writes fileName as binary PLY.
bool isPlyName(const std::string& fileName);

// The binary PLY file writeMesh writes, in parts, for a writer that gets
// its records a few at a time: the header for so many points and faces,
// then each point's record and each face's, of fixed sizes.
std::string plyHeader(std::size_t points, std::size_t faces);
constexpr std::size_t kPlyPointBytes = 48;
constexpr std::size_t kPlyFaceBytes = 13;
void encodePlyPoint(unsigned char* to, const CGVertex& position, const CGVector& normal);
void encodePlyFace(unsigned char* to, const Face& face);
