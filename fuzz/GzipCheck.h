#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Feeds arbitrary bytes to the point reader twice: as they are, and
// wrapped in a gzip stream, and checks that both readings agree bit for
// bit (points, normals, what was skipped, the reason for a refusal). Then
// the bytes themselves as a gzip stream (its magic put in front where
// missing), which must be read or refused with a reason. Returns a
// description of the first fault found, or an empty string.
std::string checkGzipInput(const std::uint8_t* data, std::size_t size);
