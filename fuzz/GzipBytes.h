#pragma once

#include <string>

// text as one gzip member at the given compression level, as gzip writes
// it; empty when zlib fails.
std::string gzipped(const std::string& text, int level);
