#pragma once

#include <iosfwd>

// The title lines that open every run.
void printBanner(std::ostream& out);

// The option summary shown when no point file is named.
void printUsage(std::ostream& out);
