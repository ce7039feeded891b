#pragma once

#include "io/PointFileReader.h"
#include "io/PointReadReport.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// True when text, a file's first bytes, starts with the line "ply" (ended
// by a line feed or a carriage return and a line feed).
bool startsLikePly(std::string_view text);

// Reads a PLY file (ascii, binary_little_endian or binary_big_endian, 1.0)
// from file, alreadyRead being its first bytes, taken from it before. Each
// vertex with a finite x y z goes to sink in file order, with its nx ny nz
// or a zero normal when the vertex has none (report.hasNormals). Other
// properties and elements are read past. False when the file is no PLY this
// reader can take, with the reason in report.problem, or on a read error
// (problem empty); the sink may have been called before either. Where
// progress is given, every byte read from file counts there, and when it
// asks to stop, the rest of the file reads as missing.
bool readPlyStream(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, PointReadReport& report,
                   Progress* progress = nullptr);

// Reads share (from 0) of shares equal runs of the vertex rows of the PLY
// file fileName, for processes that each read their own part: each vertex
// of the run with a finite x y z goes to sink, as readPlyStream gives it.
// Only a binary file whose one element is the vertex, of fixed-size rows
// with normals and whole, can be read so: for any other, split is set
// false and the file must be read whole. firstRow is the run's first row.
// False when the file cannot be read or is no PLY this reader can take,
// with the reason in report.problem.
bool readPlyShare(const std::string& fileName, std::uint64_t share, std::uint64_t shares, const PointSink& sink,
                  PointReadReport& report, bool& split, std::uint64_t& firstRow);
