#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Feeds arbitrary bytes to the point-file reader, both as a single line to
// parseLine and as a whole file to readPointFile, and checks that reading
// the file gives exactly the points its lines give one by one, that no
// accepted point lies outside finite space, and that the reader's fast
// number conversion agrees bit for bit with strtod: on every token, and on
// the whole input and each of its lines read by the line rules in their
// plainest form. Returns a description of the first fault found, or an
// empty string.
std::string checkReaderInput(const std::uint8_t* data, std::size_t size);
