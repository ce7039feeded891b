#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Feeds arbitrary bytes, as a file that starts with the line "ply", to the
// point reader, and checks that it either refuses the file with a reason
// or gives only points of finite position, no more than the header's
// vertex count, with zero normals when it said the file had none. The
// points it gives then go through normal estimation, which must give one
// finite normal each. Returns a description of the first fault found, or
// an empty string.
std::string checkPlyInput(const std::uint8_t* data, std::size_t size);
