#include "app/Console.h"

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
