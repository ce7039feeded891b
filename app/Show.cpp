#include "app/Run.h"

// PLACEHOLDER until the viewer lands.
int showResult(const Reconstruct&, const Settings&, std::ostream&)
{
    return 0;
}
