#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Progress.h"

#include <functional>
#include <string>
#include <string_view>

// Reads one line of a point file (its line feed included, if it has one).
// True, with position and normal filled, when the line is a usable point:
// not a comment ("//" in its first two columns), not a bare line feed, and
// at least six numbers, each ended by a space or a line feed, of which the
// first three are finite. A zero byte ends the line as a terminator would.
bool parseLine(std::string_view line, CGVertex& position, CGVector& normal);

// The value strtod gives for the token's text up to its first zero byte:
// its longest numeric prefix, 0 when it has none.
double tokenValue(std::string_view token);

// True, with value set, when the token is plain decimal notation that
// std::from_chars reads whole to exactly the double strtod gives; false for
// everything else (a plus sign, leading white space, hex, inf, nan, a cut
// exponent, trailing text, more than 19 digits, a result out of range),
// which tokenValue then leaves to strtod.
bool fastTokenValue(std::string_view token, double& value);

using PointSink = std::function<void(const CGVertex& position, const CGVector& normal)>;

// Hands every usable point of the file to sink, in file order. False when
// the file cannot be opened or cannot be read to its end (a directory, a
// device, a read error); the sink may have been called before a read error.
// A pipe is read until its writer closes it; a FIFO without a writer reads
// as empty. Where progress is given, the bytes read count there, out of the
// file's size (unknown for a pipe).
bool readPointFile(const std::string& fileName, const PointSink& sink, Progress* progress = nullptr);
