#pragma once

#include <cstdint>
#include <string>

// How many lines (or PLY vertices) were passed over for one reason, and
// where the first of them stood: a line number counted from 1, or a PLY
// vertex index counted from 0.
struct Skipped {
    std::uint64_t count = 0;
    std::uint64_t first = 0;

    void add(std::uint64_t where)
    {
        if (count++ == 0)
            first = where;
    }
};

// The layouts a point file can have.
enum class PointLayout {
    sixNumbers,    // text, x y z nx ny nz per line
    threeNumbers,  // text, x y z per line: no normals
    ply,           // PLY, ASCII or binary
    pcd,           // PCD: ascii, binary or binary_compressed
};

// What reading a point file found beyond its points.
struct PointReadReport {
    PointLayout layout = PointLayout::sixNumbers;
    bool hasNormals = true;   // false: every point came with a zero normal
    Skipped fewerThanSix;     // text lines of one to five numbers
    Skipped notThreeNumbers;  // x y z layout: lines that are not three whole numbers
    Skipped notFinite;        // lines or vertices whose position is not finite
    Skipped notNumbers;       // lenient text: lines of six tokens or more, not all whole numbers
    std::string problem;      // why a file that could be read was refused; empty otherwise
};
