#pragma once

#include <iosfwd>

// The title lines that open every run.
void printBanner(std::ostream& out);

// The option summary shown when no point file is named.
void printUsage(std::ostream& out);

// The keys beyond the option summary, for standard error: a user who runs
// the program bare finds every one of them there.
void printMoreOptions(std::ostream& err);
