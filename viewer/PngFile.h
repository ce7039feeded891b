#pragma once

#include <string>
#include <vector>

// Writes width by height RGB triples, top row first, as an 8-bit PNG. The
// picture goes to a temporary file beside fileName that is renamed into
// place when complete, so a failed write leaves no half-written file. False
// when anything fails; fileName is then as it was before.
bool writePng(const std::string& fileName, int width, int height, const std::vector<unsigned char>& rgb);
