#pragma once

#include "app/Settings.h"

#include <iosfwd>

struct Surface;

// The whole job after the banner: usage text, load, triangulate, report,
// export and viewer. The report goes to out; notes beyond it (hints,
// warnings, progress) go to err. Returns the process exit code.
int run(const Settings& settings, std::ostream& out, std::ostream& err);

// Shows the finished result: the window, or the snapshot, or nothing with
// view:0. Returns the process exit code.
int showResult(const Surface& result, const Settings& settings, std::ostream& out, std::ostream& err);
