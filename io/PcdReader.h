#pragma once

#include "io/PointFileReader.h"
#include "io/PointReadReport.h"

#include <cstdio>
#include <string_view>

// True when text, a file's first bytes, starts as a PCD file does: the
// comment line "# .PCD" or a VERSION or FIELDS line.
bool startsLikePcd(std::string_view text);

// Reads a PCD file (DATA ascii, binary or binary_compressed) from file,
// alreadyRead being its first bytes, taken from it before. Each point with
// a finite x y z goes to sink in file order, with its normal_x normal_y
// normal_z or a zero normal when the file has none (report.hasNormals);
// every other field is read past. False when the file is no PCD this reader
// can take, with the reason in report.problem, or on a read error (problem
// empty); the sink may have been called before either. Where progress is
// given, every byte read from file counts there.
bool readPcdStream(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, PointReadReport& report,
                   Progress* progress = nullptr);
