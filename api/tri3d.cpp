#include "tri3d/tri3d.h"

#include "geometry/CGVertex.h"
#include "geometry/Progress.h"
#include "geometry/Surface.h"
#include "io/MeshWriter.h"
#include "io/PointInput.h"
#include "mesh/Reconstruct.h"
#include "normals/NormalEstimation.h"
#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

namespace tri3d {

namespace {

    // The hooks as the layers below take them: one internal progress object
    // that tells the caller's callback and hears the caller's flag.
    class HookedProgress {
    public:
        explicit HookedProgress(const Hooks& hooks) : hooks_(hooks)
        {
            if (hooks_.progress)
                progress_.listen([this] { tell(); });
            progress_.stopWhen(hooks_.cancel);
        }

        HookedProgress(const HookedProgress&) = delete;
        HookedProgress& operator=(const HookedProgress&) = delete;

        ::Progress* get() { return &progress_; }
        void throwIfStopped() const
        {
            if (progress_.stopped())
                throw Cancelled();
        }

    private:
        void tell()
        {
            Progress::Step step = Progress::Step::Reading;
            switch (progress_.stage()) {
            case ::Progress::Stage::None:
            case ::Progress::Stage::Reading: step = Progress::Step::Reading; break;
            case ::Progress::Stage::Normals: step = Progress::Step::Normals; break;
            case ::Progress::Stage::Tree: step = Progress::Step::Tree; break;
            case ::Progress::Stage::Triangulating: step = Progress::Step::Triangulating; break;
            case ::Progress::Stage::Repairing: step = Progress::Step::Repairing; break;
            case ::Progress::Stage::Writing: step = Progress::Step::Writing; break;
            }
            hooks_.progress(Progress{step, progress_.done(), progress_.total()});
        }

        const Hooks& hooks_;
        ::Progress progress_;
    };

    bool finite(const Vec3& v)
    {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    }

    // The engine numbers points in 32 bits, and the faces must index the
    // caller's array, so no point may be dropped.
    void checkPositions(const std::vector<Vec3>& positions)
    {
        if (positions.size() > std::numeric_limits<std::uint32_t>::max())
            throw Error("more points than 4294967295, the most a cloud may hold");
        for (std::size_t i = 0; i < positions.size(); ++i)
            if (!finite(positions[i]))
                throw Error("position " + std::to_string(i) + " is not finite");
    }

    void checkNormals(const std::vector<Vec3>& positions, const std::vector<Vec3>& normals)
    {
        if (!normals.empty() && normals.size() != positions.size())
            throw Error(std::to_string(normals.size()) + " normals for " + std::to_string(positions.size()) +
                        " positions; give one per position, or none");
    }

    // A mesh the report, the repair and the writers can read safely: its faces
    // name points it has.
    void checkMesh(const Mesh& mesh)
    {
        checkNormals(mesh.positions, mesh.normals);
        for (std::size_t i = 0; i < mesh.faces.size(); ++i)
            for (std::uint32_t corner : mesh.faces[i])
                if (corner >= mesh.positions.size())
                    throw Error("face " + std::to_string(i) + " names point " + std::to_string(corner) + " of " +
                                std::to_string(mesh.positions.size()));
    }

    std::vector<CGVertex> toVertices(const std::vector<Vec3>& from)
    {
        std::vector<CGVertex> to(from.size());
        std::transform(from.begin(), from.end(), to.begin(), [](const Vec3& v) { return CGVertex{v.x, v.y, v.z}; });
        return to;
    }

    std::vector<Vec3> toVec3(const std::vector<CGVector>& from)
    {
        std::vector<Vec3> to(from.size());
        std::transform(from.begin(), from.end(), to.begin(), [](const CGVector& v) { return Vec3{v.x, v.y, v.z}; });
        return to;
    }

    // The mesh as the layers below read it; zero normals where it has none.
    Surface toSurface(const Mesh& mesh)
    {
        Surface surface;
        surface.positions = toVertices(mesh.positions);
        surface.normals.resize(mesh.positions.size());
        for (std::size_t i = 0; i < mesh.normals.size(); ++i)
            surface.normals[i] = {mesh.normals[i].x, mesh.normals[i].y, mesh.normals[i].z};
        surface.faces = mesh.faces;
        return surface;
    }

    std::vector<CGVector> estimated(const std::vector<CGVertex>& positions, unsigned neighbours,
                                    HookedProgress& progress)
    {
        if (neighbours < kFewestNeighbours || neighbours > kMostNeighbours)
            throw Error("neighbours " + std::to_string(neighbours) + " is out of " + std::to_string(kFewestNeighbours) +
                        " to " + std::to_string(kMostNeighbours));
        std::vector<CGVector> normals = ::estimateNormals(positions, neighbours, 0, progress.get());
        progress.throwIfStopped();
        return normals;
    }

}  // namespace

Cloud readPoints(const std::string& fileName, const Hooks& hooks)
{
    HookedProgress progress(hooks);
    Cloud cloud;
    PointReadReport read;
    const bool ok = ::readPoints(
        fileName,
        [&cloud](const CGVertex& p, const CGVector& n) {
            cloud.positions.push_back({p.x, p.y, p.z});
            cloud.normals.push_back({n.x, n.y, n.z});
        },
        true, read, progress.get());
    progress.throwIfStopped();
    const std::string failed = "Error loading file \"" + fileName + '"';
    if (!ok)
        throw Error(read.problem.empty() ? failed : failed + ": " + read.problem);
    if (cloud.positions.size() > std::numeric_limits<std::uint32_t>::max())
        throw Error(failed + ": more points than 4294967295, the most a file may hold");
    // A file of nothing but zero normals carries no normals at all.
    const bool anyNormal = std::any_of(cloud.normals.begin(), cloud.normals.end(),
                                       [](const Vec3& n) { return n.x != 0.0 || n.y != 0.0 || n.z != 0.0; });
    if (!read.hasNormals || !anyNormal)
        std::vector<Vec3>().swap(cloud.normals);
    return cloud;
}

void estimateNormals(Cloud& cloud, unsigned neighbours, const Hooks& hooks)
{
    checkPositions(cloud.positions);
    HookedProgress progress(hooks);
    cloud.normals = toVec3(estimated(toVertices(cloud.positions), neighbours, progress));
}

Mesh reconstruct(const Cloud& cloud, Search search, const Hooks& hooks)
{
    checkPositions(cloud.positions);
    checkNormals(cloud.positions, cloud.normals);
    HookedProgress progress(hooks);
    Mesh mesh;
    Reconstruct engine;
    engine.progress = progress.get();
    {
        // Gone once the engine has its nodes: the run needs the memory more.
        const std::vector<CGVertex> positions = toVertices(cloud.positions);
        std::vector<CGVector> normals;
        if (cloud.normals.empty()) {
            normals = estimated(positions, 16, progress);
            mesh.normals = toVec3(normals);
        } else {
            normals.resize(cloud.normals.size());
            std::transform(cloud.normals.begin(), cloud.normals.end(), normals.begin(), [](const Vec3& v) {
                return CGVector{v.x, v.y, v.z};
            });
            mesh.normals = cloud.normals;
        }
        engine.setPoints(positions, normals);
    }
    if (!engine.triangulate(search == Search::KdTree))
        throw Cancelled();
    mesh.faces.reserve(engine.triangles.size());
    for (const Triangle& triangle : engine.triangles)
        mesh.faces.push_back({triangle.source[0], triangle.source[1], triangle.source[2]});
    mesh.positions = cloud.positions;
    return mesh;
}

Report report(const Mesh& mesh)
{
    checkMesh(mesh);
    const SurfaceReport counted = reportOn(toSurface(mesh));
    Report result;
    result.faces = counted.faces;
    result.verticesUsed = counted.verticesUsed;
    result.edges = counted.edges;
    result.boundaryEdges = counted.boundaryEdges;
    result.boundaryLoops = counted.boundaryLoops;
    result.nonManifoldEdges = counted.nonManifoldEdges;
    result.inconsistentEdges = counted.inconsistentEdges;
    result.duplicateFaces = counted.duplicateFaces;
    result.zeroAreaFaces = counted.zeroAreaFaces;
    result.components = counted.components;
    result.eulerCharacteristic = counted.eulerCharacteristic;
    result.area = counted.area;
    return result;
}

void repair(Mesh& mesh, int holes)
{
    checkMesh(mesh);
    if (holes < 0)
        throw Error("holes " + std::to_string(holes) + " is below 0");
    Surface surface = toSurface(mesh);
    // the search for crossing faces on every core, as the program's
    // default: the faces are the same for any count
    repairSurface(surface, static_cast<std::size_t>(holes), nullptr, std::max(1u, std::thread::hardware_concurrency()));
    mesh.faces = std::move(surface.faces);
}

void writeMesh(const std::string& fileName, const Mesh& mesh, const Hooks& hooks)
{
    checkMesh(mesh);
    HookedProgress progress(hooks);
    const bool written = ::writeMesh(fileName, toSurface(mesh), progress.get());
    if (!written)
        throw Error("Error writing file \"" + fileName + '"');
}

}  // namespace tri3d
