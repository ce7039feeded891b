#pragma once

#include "fuzz/MeshInvariants.h"
#include "mesh/Reconstruct.h"

#include <string>
#include <vector>

namespace testsupport {

// A file name of this process's own in the temporary folder, removed first
// if present and again, with anything below it, when the tests end.
std::string tempPath(const std::string& name);

// Writes text to a file in the test's temporary folder; returns its path.
std::string writeTempFile(const std::string& name, const std::string& text);

std::string readFile(const std::string& path);

// Loads points given as point-file text ("x y z nx ny nz" lines).
void loadPoints(Reconstruct& r, const std::string& text);

// Checks the invariants every finished run must keep; returns a description
// of the first one broken, or an empty string.
using ::findInvariantFault;

}  // namespace testsupport
