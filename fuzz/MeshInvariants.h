#pragma once

#include <string>

class Reconstruct;

// Checks what must hold after every finished triangulation run: each
// directed edge starts at the node that owns it, is unique, has its reverse
// with the same count, and counts 1 or 2 triangles; every triangle has three
// distinct, non-free corners and all three sides as
// edges; a node has edges only if it is a corner; the front is empty.
// Returns a description of the first fault found, or an empty string.
std::string findInvariantFault(const Reconstruct& result);
