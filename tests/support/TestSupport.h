#pragma once

#include "fuzz/MeshInvariants.h"
#include "kdtree/KDTree.h"
#include "mesh/Reconstruct.h"

#include <string>
#include <vector>

// Points with a KD-tree over them built by hand, for tests of the searches
// that need a tree without a run (a run's tree lives in its index).
struct IndexedPoints : Reconstruct {
    KDTree<double> kdTree;
};

namespace testsupport {

// A file name of this process's own in the temporary folder, removed first
// if present and again, with anything below it, when the tests end.
std::string tempPath(const std::string& name);

// Writes text to a file in the test's temporary folder; returns its path.
std::string writeTempFile(const std::string& name, const std::string& text);

std::string readFile(const std::string& path);

// Loads points given as point-file text ("x y z nx ny nz" lines).
void loadPoints(Reconstruct& r, const std::string& text);

// Loads a point file into r as the command line does with normals:file;
// false, r unchanged, when loading fails.
bool loadFile(Reconstruct& r, const std::string& path);

// How many threads this process is running now, by its own task list.
int threadsRunning();

// Checks the invariants every finished run must keep; returns a description
// of the first one broken, or an empty string.
using ::findInvariantFault;

}  // namespace testsupport
