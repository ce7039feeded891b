#pragma once

#include "mesh/Reconstruct.h"

#include <string>
#include <vector>

namespace testsupport {

// A path for a scratch file of this test run.
std::string tempPath(const std::string& name);

// Writes text to a scratch file and returns its path.
std::string writeTempFile(const std::string& name, const std::string& text);

std::string readFile(const std::string& path);

struct ProgramRun {
    int exitCode = -1;   // -1 when the program did not exit normally
    int signal = 0;      // the signal that ended it, if any
    std::string output;  // everything it wrote to standard output
};

// Runs the built tri3d with the given words and waits for it.
ProgramRun runProgram(const std::vector<std::string>& words);

// Loads points given as point-file text ("x y z nx ny nz" lines).
void loadPoints(Reconstruct& r, const std::string& text);

// Checks the invariants every finished run must keep; returns a description
// of the first one broken, or an empty string.
std::string brokenInvariant(const Reconstruct& r);

}  // namespace testsupport
