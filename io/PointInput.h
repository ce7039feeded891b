#pragma once

#include "io/PointFileReader.h"
#include "io/PointReadReport.h"

#include <string>

// Reads a point file of any layout, told apart by its content: PLY when
// the first line is "ply", PCD when it starts with "# .PCD", VERSION or
// FIELDS, text otherwise; a gzip stream (magic 1f 8b) is read as the file
// it holds. threeNumbersAllowed is the lenient reading of normals:auto and
// estimate: x y z text files, "#" comments, header lines skipped, and
// files that are no text refused (see readPointStream); without it text
// reads exactly as the plain reader does. Hands every usable point to sink
// in file order. False when the file cannot be opened or read to its end,
// or is refused; report.problem then says why (the system's cause of an
// open failure, a format's broken rule, a cut or corrupt gzip stream), and
// is empty only for a failure nobody named. The sink may have been called
// before. Where progress is given, the bytes read count there, out of the
// file's size (unknown for a pipe). A large text file is parsed on up to
// threads threads (0: as the machine has cores), with the same result.
bool readPoints(const std::string& fileName, const PointSink& sink, bool threeNumbersAllowed, PointReadReport& report,
                Progress* progress = nullptr, unsigned threads = 0);
