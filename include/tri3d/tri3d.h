#pragma once

// tri3d as a library: a triangle surface from oriented points, by an
// advancing front. Needs only the standard library. Every function gives
// the command line's results, face for face; none prints or exits, and
// failures come back as tri3d::Error with the command line's reasons.
// Calls on different objects may run on different threads at once.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tri3d {

struct Vec3 {
    double x, y, z;
};

// Points as read or as made by the caller; normals are empty when there
// are none, else one per position.
struct Cloud {
    std::vector<Vec3> positions, normals;
};

// A surface: the points it was made from, with their normals, and faces
// whose corners index positions; each face is counter-clockwise about the
// mean of its corners' normals.
struct Mesh {
    std::vector<Vec3> positions, normals;
    std::vector<std::array<std::uint32_t, 3>> faces;
};

// The candidate search: nearby points through a KD-tree, or every point.
// Both give the same surfaces on ordinary inputs; the linear one is slow.
enum class Search { KdTree, Linear };

// What failed and why, in the words the command line uses.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when the cancel flag of Hooks stopped a call.
class Cancelled : public Error {
public:
    Cancelled() : Error("cancelled") {}
};

// Where a long call has got: the step and how many of its units are done,
// out of total (0: not known in advance).
struct Progress {
    enum class Step { Reading, Normals, Tree, Triangulating, Repairing, Writing };
    Step step;
    std::uint64_t done;
    std::uint64_t total;
};

// Optional hooks for a long call. progress is called on the calling thread
// when a step begins and every two hundredth of it (estimating normals,
// which runs on several threads, tells only its start); cancel, when set (by
// the callback, another thread or a signal handler), stops the call, which
// then throws Cancelled. The flag is the caller's and must outlive the call.
// The callback must not throw: to stop, it sets the flag.
struct Hooks {
    std::function<void(const Progress&)> progress;
    std::atomic<bool>* cancel = nullptr;
};

// The points of a point file: text (x y z nx ny nz, or x y z) or PLY.
// Lines the command line skips are skipped; normals are empty when the file
// has none or every one is zero. Throws Error when the file cannot be read.
Cloud readPoints(const std::string& fileName, const Hooks& hooks = {});

// Sets cloud.normals to estimated ones, oriented as the command line
// orients them, from neighbours (3 to 100) nearest points each. Throws
// Error on a neighbour count out of range or a cloud that is not valid.
void estimateNormals(Cloud& cloud, unsigned neighbours = 16, const Hooks& hooks = {});

// The surface over cloud. Normals are estimated (16 neighbours) when cloud
// has none. Throws Error when a position is not finite, the normals are
// not one per position, or there are more than 4294967295 points.
Mesh reconstruct(const Cloud& cloud, Search search = Search::KdTree, const Hooks& hooks = {});

// The figures of the command line's report:1.
struct Report {
    std::uint64_t faces = 0;
    std::uint64_t verticesUsed = 0;
    std::uint64_t edges = 0;
    std::uint64_t boundaryEdges = 0;
    std::uint64_t boundaryLoops = 0;
    std::uint64_t nonManifoldEdges = 0;
    std::uint64_t inconsistentEdges = 0;
    std::uint64_t duplicateFaces = 0;
    std::uint64_t zeroAreaFaces = 0;
    std::uint64_t components = 0;
    std::int64_t eulerCharacteristic = 0;
    double area = 0.0;
};
Report report(const Mesh& mesh);

// Repairs mesh.faces in place as clean:1 does, closing holes of at most
// holes edges; positions and normals are never changed.
void repair(Mesh& mesh, int holes = 30);

// Writes mesh in the format its name's extension gives, as out: does
// (.ply, .obj, .off, .stl). Throws Error when it cannot.
void writeMesh(const std::string& fileName, const Mesh& mesh, const Hooks& hooks = {});

}  // namespace tri3d
