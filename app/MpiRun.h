#pragma once

#include "app/Settings.h"

#include <iosfwd>

// The whole job on one rank of an MPI run: the ranks read their own byte
// ranges of the file, trade points so that each holds the tiles it owns
// with their bands, grow those, and send rank 0 what the seams need; rank
// 0 closes the seams, reports and writes. Only rank 0 writes to out and
// err. The faces are those of the threaded run with the same tiles. Every
// rank returns the process exit code; any rank's failure is every rank's.
int runMpi(const Settings& settings, std::ostream& out, std::ostream& err);
