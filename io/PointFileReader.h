#pragma once

#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "io/PointReadReport.h"

#include <cstddef>
#include <cstdio>

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

// True, with value set, when the whole token is one number as strtod reads
// it (no leading white space, no trailing text): the value tokenValue gives.
bool wholeTokenValue(std::string_view token, double& value);

// Regular text point files of at least this many bytes are parsed on two
// threads.
constexpr std::size_t kPointFileSplitBytes = std::size_t(8) << 20;

using PointSink = std::function<void(const CGVertex& position, const CGVector& normal)>;

// Hands every usable point of the file to sink, in file order. False when
// the file cannot be opened or cannot be read to its end (a directory, a
// device, a read error); the sink may have been called before a read error.
// A pipe is read until its writer closes it; a FIFO without a writer reads
// as empty.
bool readPointFile(const std::string& fileName, const PointSink& sink);

// Reads a text point file from file, alreadyRead being its first bytes,
// taken from it before. Six-number lines as readPointFile reads them; with
// threeNumbersAllowed, a file without any line of six or more numbers is
// read in the x y z layout instead: every line of exactly three whole
// numbers becomes a point with a zero normal. report says which layout it
// was and what was skipped. False on a read error, or when progress (where
// given) asks to stop; every byte read from file counts there. Regular files of at least
// splitBytes are parsed in blocks whose whole lines are split between two
// threads, with the same result as one thread's; tests pass a small value
// to cover the split on small files.
bool readPointStream(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, bool threeNumbersAllowed,
                     PointReadReport& report, Progress* progress = nullptr,
                     std::size_t splitBytes = kPointFileSplitBytes);
