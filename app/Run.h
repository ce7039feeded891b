#pragma once

#include "app/Settings.h"

#include <cstddef>
#include <iosfwd>

// Tiles are counted in 32 bits, and a tile of fewer points than the
// bands around it is more wall than surface.
constexpr std::size_t kMostTiles = std::size_t{1} << 16;

// The tiles: asks, held to 1 to kMostTiles with a note on err when out of
// range.
unsigned tileCount(const Settings& settings, std::ostream& err);

struct Surface;

// The whole job after the banner: usage text, load, triangulate, report,
// export and viewer. The report goes to out; notes beyond it (hints,
// warnings, progress) go to err. Returns the process exit code.
int run(const Settings& settings, std::ostream& out, std::ostream& err);

// Shows the finished result: the window, or the snapshot, or nothing with
// view:0. Returns the process exit code.
int showResult(const Surface& result, const Settings& settings, std::ostream& out, std::ostream& err);
