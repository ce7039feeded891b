#pragma once

#include <cstddef>
#include <cstdint>

#include <string>

// Inputs beyond these sizes are passed over: the engine's search is
// quadratic, and small inputs already reach every branch.
constexpr std::size_t kMaxPipelineBytes = 4096;
constexpr std::size_t kMaxPipelinePoints = 64;

// Loads the bytes and triangulates them with both candidate searches, each
// twice, and checks the mesh invariants after every run and that a repeated
// run gives the same triangles; repairs the KD-tree surface twice and checks
// that both repairs agree and leave no duplicate face and no edge of three
// faces. A first byte of zero makes the rest binary points, six signed bytes
// each (position, then normal), on a small integer grid where ties and
// degenerate triangles are common; any other input is a point file. Returns
// a description of the first fault found, or an empty string.
std::string checkPipelineInput(const std::uint8_t* data, std::size_t size);
