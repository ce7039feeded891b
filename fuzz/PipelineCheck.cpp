#include "fuzz/PipelineCheck.h"

#include "fuzz/MemoryFile.h"
#include "fuzz/MeshInvariants.h"
#include "io/PointInput.h"
#include "mesh/Reconstruct.h"
#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"

#include <vector>

namespace {

double gridValue(std::uint8_t byte)
{
    return static_cast<double>(static_cast<std::int8_t>(byte));
}

// False when the input has too many points to be worth a run.
bool load(Reconstruct& engine, const std::uint8_t* data, std::size_t size, std::string& fault)
{
    if (size > 0 && data[0] == 0) {
        const std::size_t count = (size - 1) / 6;
        if (count > kMaxPipelinePoints)
            return false;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = data + 1 + 6 * i;
            engine.addNode({gridValue(p[0]), gridValue(p[1]), gridValue(p[2])},
                           {gridValue(p[3]), gridValue(p[4]), gridValue(p[5])});
        }
        return true;
    }
    static MemoryFile file;
    if (!file.assign(data, size)) {
        fault = "could not store the input in memory";
        return false;
    }
    // A PLY file that breaks its own rules is refused, with a reason; any
    // other refusal of a readable file is a fault.
    PointReadReport report;
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    const auto sink = [&positions, &normals](const CGVertex& position, const CGVector& normal) {
        positions.push_back(position);
        normals.push_back(normal);
    };
    if (!readPoints(file.path(), sink, false, report)) {
        if (report.problem.empty())
            fault = "could not load a readable file";
        return false;
    }
    if (positions.size() > kMaxPipelinePoints)
        return false;
    engine.setPoints(positions, normals);
    return true;
}

bool sameTriangles(const Triangles& a, const Triangles& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int c = 0; c < 3; ++c)
            if (a[i].source[c] != b[i].source[c])
                return false;
    return true;
}

// The repair of a finished surface: faces over its own points only, no
// duplicate and no edge of three faces after it, and the same faces from a
// second repair of the same surface, on two threads.
std::string findRepairFault(const Reconstruct& engine)
{
    Surface once = engine.surface();
    Surface twice = once;
    repairSurface(once, 30);
    repairSurface(twice, 30, nullptr, 2);
    if (once.faces != twice.faces)
        return "two repairs of one surface, on one thread and on two, gave other faces";
    for (const Face& face : once.faces)
        for (std::uint32_t corner : face)
            if (corner >= once.positions.size())
                return "the repair named a point that does not exist";
    const SurfaceReport report = reportOn(once);
    if (report.duplicateFaces != 0 || report.nonManifoldEdges != 0)
        return "the repair left a duplicate face or an edge of more than two faces";
    return {};
}

}  // namespace

std::string checkPipelineInput(const std::uint8_t* data, std::size_t size)
{
    if (size > kMaxPipelineBytes)
        return {};
    for (const bool useKd : {false, true}) {
        const std::string search = useKd ? "KD-tree search: " : "linear search: ";
        Triangles first;
        for (int run = 0; run < 2; ++run) {
            Reconstruct engine;
            std::string fault;
            if (!load(engine, data, size, fault))
                return fault;
            engine.triangulate(useKd);
            fault = findInvariantFault(engine);
            if (!fault.empty())
                return search + fault;
            if (run == 0 && useKd) {
                fault = findRepairFault(engine);
                if (!fault.empty())
                    return fault;
            }
            if (run == 0)
                first = engine.triangles;
            else if (!sameTriangles(first, engine.triangles))
                return search + "a second run on the same points gave other triangles";
        }
    }
    return {};
}
