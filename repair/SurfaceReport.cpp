#include "repair/SurfaceReport.h"

#include "geometry/Pieces.h"
#include "geometry/Surface.h"
#include "repair/EdgeTable.h"
#include "repair/SurfaceMath.h"

#include <algorithm>
#include <vector>

SurfaceReport reportOn(const Surface& surface)
{
    const Faces& faces = surface.faces;
    const std::size_t pointCount = surface.positions.size();
    SurfaceReport report;
    report.faces = faces.size();

    std::vector<bool> used(pointCount, false);
    for (const Face& face : faces) {
        for (std::uint32_t corner : face)
            used[corner] = true;
        const CGVector n = faceCross(surface.positions, face);
        if (n.x == 0.0 && n.y == 0.0 && n.z == 0.0)
            ++report.zeroAreaFaces;
        report.area += 0.5 * length(n);
    }
    report.verticesUsed = static_cast<std::uint64_t>(std::count(used.begin(), used.end(), true));

    const EdgeTable table(faces, pointCount);
    report.edges = table.edgeCount();
    Pieces boundary(pointCount);
    std::vector<bool> onBoundary(pointCount, false);
    Pieces components(faces.size());
    for (std::size_t e = 0; e < table.edgeCount(); ++e) {
        const std::uint32_t uses = table.uses(e);
        if (uses == 1) {
            ++report.boundaryEdges;
            boundary.join(table.lower(e), table.higher(e));
            onBoundary[table.lower(e)] = onBoundary[table.higher(e)] = true;
        } else if (uses > 2) {
            ++report.nonManifoldEdges;
        } else if (table.runsUp(e, 0) == table.runsUp(e, 1)) {
            ++report.inconsistentEdges;
        }
        for (std::uint32_t i = 1; i < uses; ++i)
            components.join(EdgeTable::faceOf(table.use(e, 0)), EdgeTable::faceOf(table.use(e, i)));
    }
    for (std::size_t p = 0; p < pointCount; ++p)
        if (onBoundary[p] && boundary.root(static_cast<std::uint32_t>(p)) == p)
            ++report.boundaryLoops;
    for (std::size_t f = 0; f < faces.size(); ++f)
        if (components.root(static_cast<std::uint32_t>(f)) == f)
            ++report.components;

    const std::vector<bool> repeated = table.repeatedFaces(faces.size());
    report.duplicateFaces = static_cast<std::uint64_t>(std::count(repeated.begin(), repeated.end(), true));

    report.eulerCharacteristic = static_cast<std::int64_t>(report.verticesUsed) -
                                 static_cast<std::int64_t>(report.edges) + static_cast<std::int64_t>(report.faces);
    return report;
}
