#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

struct RepairCounts;
struct SurfaceReport;

// The title lines that open every run.
void printBanner(std::ostream& out);

// The option summary shown when no point file is named.
void printUsage(std::ostream& out);

// The keys beyond the option summary, for standard error: a user who runs
// the program bare finds every one of them there.
void printMoreOptions(std::ostream& err);

// The surface's figures, one "  name: number" line each, for report:1.
void printSurfaceReport(std::ostream& out, const SurfaceReport& report);

// What clean:1 did and how long it took, in the same form.
void printRepair(std::ostream& out, const RepairCounts& counts, std::uint64_t milliseconds);

// One line on the error stream naming the surface's faults (edges run the
// same way by two faces, edges of more than two faces, duplicate faces) and
// its open edges; false, and nothing written, when it has no such fault.
bool printSurfaceFaults(std::ostream& err, const SurfaceReport& report);

// A count with its thousands grouped: 10,000,000.
std::string groupedCount(std::uint64_t count);

// An amount of memory to two figures or so, in decimal units: "7 GB",
// "1.5 GB", "690 MB".
std::string roughBytes(std::uint64_t bytes);
