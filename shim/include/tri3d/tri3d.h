#pragma once
// Local stand-in for the real API until it lands; never committed.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>
namespace tri3d {
struct Vec3 { double x, y, z; };
struct Cloud { std::vector<Vec3> positions, normals; };
struct Mesh { std::vector<Vec3> positions, normals; std::vector<std::array<std::uint32_t, 3>> faces; };
enum class Search { KdTree, Linear };
class Error : public std::runtime_error { public: using std::runtime_error::runtime_error; };
struct Hooks { std::function<void()> progress; std::atomic<bool>* cancel = nullptr; };
struct Report { std::uint64_t faces = 0, verticesUsed = 0, edges = 0, boundaryEdges = 0, boundaryLoops = 0, nonManifoldEdges = 0, inconsistentEdges = 0, duplicateFaces = 0, zeroAreaFaces = 0, components = 0; std::int64_t eulerCharacteristic = 0; double area = 0; };
Cloud readPoints(const std::string& fileName);
void estimateNormals(Cloud& cloud, unsigned neighbours = 16, const Hooks& hooks = {});
Mesh reconstruct(const Cloud& cloud, Search search = Search::KdTree, const Hooks& hooks = {});
Report report(const Mesh& mesh);
void repair(Mesh& mesh, int holes = 30);
void writeMesh(const std::string& fileName, const Mesh& mesh);
}
