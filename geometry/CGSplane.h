#pragma once

#include <cstdint>

// An axis-aligned splitting plane: all points with coordinate `value`
// on `axis` (0 = x, 1 = y, 2 = z).
struct CGSplane {
    double value = 0.0;
    std::uint8_t axis = 0;
};
