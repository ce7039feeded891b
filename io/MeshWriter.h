#pragma once

#include <string>

class Reconstruct;

// Writes the points and triangles of a finished run to a mesh file whose
// format follows the name's extension, in any letter case: ".ply" (binary,
// little-endian), ".obj" or ".off" (text). Every point becomes a vertex, in
// file order; every triangle a face, in recorded order. The file appears
// whole or not at all. False on an unknown extension or any write failure.
bool writeMesh(const std::string& fileName, const Reconstruct& result);
