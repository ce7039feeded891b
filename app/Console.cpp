#include "app/Console.h"

#include <cmath>
#include <cstdio>
#include <ostream>

void printBanner(std::ostream& out)
{
    out << "\nTriangulation in 3D  -  tri3d, surfaces from oriented points\n\n" << std::flush;
}

void printUsage(std::ostream& out)
{
    out << "mandatory arguments are:\n"
           "  file:<filename>  - load vertices from file\n"
           "\n"
           "optional arguments are:\n"
           "  kd:<0|1>         - activate normal (Linear) use or optimized (KD) use\n"
           "                     default: 1 (use kd)\n"
           "  dots:<0|1>       - show vertices\n"
           "                     default: 1 (true)\n"
           "  mesh:<0|1>       - show triangle-mesh\n"
           "                     default: 1 (true)\n"
           "  tri:<0|1>        - show triangles\n"
           "                     default: 0 (false)\n"
           "  transx:<value>   - translation along x-axis\n"
           "                     default: 0\n"
           "  transy:<value>   - translation along y-axis\n"
           "                     default: 0\n"
           "  zoom:<value>     - translation along z-axis\n"
           "                     default: -25\n"
           "\n"
        << std::flush;
}

void printMoreOptions(std::ostream& err)
{
    err << "more options (see README.md):\n"
           "  out:<file>       - save the surface: .ply, .obj or .off, by extension\n"
           "  view:<0|1>       - 0: no window; end after the report (default: 1)\n"
           "  shot:<file.png>  - render the first frame into a PNG instead of a window\n"
           "  progress:<0|1>   - show how far long stages have got, on standard error\n"
           "                     default: only where standard error is a terminal\n"
        << std::flush;
}

std::string groupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string roughBytes(std::uint64_t bytes)
{
    // Two figures say all an estimate can: 700 MB, not 699 MB.
    char text[32];
    const double value = static_cast<double>(bytes);
    if (value >= 9.95e9)
        std::snprintf(text, sizeof text, "%.0f GB", value / 1e9);
    else if (value >= 0.995e9)
        std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
    else if (value >= 99.5e6)
        std::snprintf(text, sizeof text, "%.0f MB", std::round(value / 1e7) * 10.0);
    else
        std::snprintf(text, sizeof text, "%.0f MB", value / 1e6);
    return text;
}
