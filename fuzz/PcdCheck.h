#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Feeds arbitrary bytes, as a file that starts like a PCD file, to the
// point reader, and checks that it either refuses the file with a reason
// or gives only points of finite position, no more than the header could
// declare, with zero normals when it said the file had none. Returns a
// description of the first fault found, or an empty string.
std::string checkPcdInput(const std::uint8_t* data, std::size_t size);
