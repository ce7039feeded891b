#include "app/Run.h"

#include <ostream>

// A build without GL (TRI3D_VIEWER off) can still triangulate and export;
// asking it for a picture is an error rather than a silent nothing.
int showResult(const Surface&, const Settings& settings, std::ostream& out, std::ostream& /*err*/)
{
    if (settings.shot.empty() && !settings.view)
        return 0;
    out << "This program was built without the viewer" << std::endl;
    return 1;
}
