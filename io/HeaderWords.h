#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The words of one header or text-data line, split at spaces and tabs; the
// views point into text, which must outlive them.
std::vector<std::string_view> splitWords(std::string_view text);

// Reads a count written in decimal digits alone, no sign, that fits 64 bits.
// False when text is anything else; count is then unspecified.
bool readCount(std::string_view text, std::uint64_t& count);
