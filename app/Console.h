#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

// The title lines that open every run.
void printBanner(std::ostream& out);

// The option summary shown when no point file is named.
void printUsage(std::ostream& out);

// The keys beyond the option summary, for standard error: a user who runs
// the program bare finds every one of them there.
void printMoreOptions(std::ostream& err);

// A count with its thousands grouped: 10,000,000.
std::string groupedCount(std::uint64_t count);

// An amount of memory to two figures or so, in decimal units: "7 GB",
// "1.5 GB", "690 MB".
std::string roughBytes(std::uint64_t bytes);
