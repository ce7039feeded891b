#include "tri3d/tri3d.h"
#include "io/MeshWriter.h"
#include "io/PointInput.h"
#include "mesh/Reconstruct.h"
#include "normals/NormalEstimation.h"
#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"
namespace tri3d {
namespace {
Surface toSurface(const Mesh& m) {
  Surface s;
  for (auto& p : m.positions) s.positions.push_back({p.x, p.y, p.z});
  for (auto& p : m.normals) s.normals.push_back({p.x, p.y, p.z});
  s.normals.resize(s.positions.size(), CGVector{0, 0, 0});
  s.faces = m.faces;
  return s;
}
}
Cloud readPoints(const std::string& fileName) {
  Cloud c; PointReadReport r; bool any = false;
  if (!::readPoints(fileName, [&](const CGVertex& p, const CGVector& n) { c.positions.push_back({p.x, p.y, p.z}); c.normals.push_back({n.x, n.y, n.z}); any = any || n.x != 0 || n.y != 0 || n.z != 0; }, true, r))
    throw Error(r.problem.empty() ? "cannot read \"" + fileName + "\"" : r.problem);
  if (!r.hasNormals || !any) c.normals.clear();
  return c;
}
void estimateNormals(Cloud& cloud, unsigned neighbours, const Hooks&) {
  std::vector<CGVertex> pos; for (auto& p : cloud.positions) pos.push_back({p.x, p.y, p.z});
  auto n = ::estimateNormals(pos, neighbours);
  cloud.normals.clear(); for (auto& v : n) cloud.normals.push_back({v.x, v.y, v.z});
}
Mesh reconstruct(const Cloud& cloud, Search search, const Hooks& hooks) {
  Reconstruct r;
  for (std::size_t i = 0; i < cloud.positions.size(); ++i) { auto& p = cloud.positions[i]; Vec3 n = cloud.normals.empty() ? Vec3{0,0,0} : cloud.normals[i]; r.addNode({p.x, p.y, p.z}, {n.x, n.y, n.z}); }
  r.triangulate(search == Search::KdTree);
  if (hooks.progress) hooks.progress();
  Surface s = r.surface();
  Mesh m; m.positions = cloud.positions; m.normals = cloud.normals; m.faces = s.faces; return m;
}
Report report(const Mesh& mesh) {
  auto r = reportOn(toSurface(mesh)); Report o;
  o.faces = r.faces; o.verticesUsed = r.verticesUsed; o.edges = r.edges; o.boundaryEdges = r.boundaryEdges; o.boundaryLoops = r.boundaryLoops; o.nonManifoldEdges = r.nonManifoldEdges; o.inconsistentEdges = r.inconsistentEdges; o.duplicateFaces = r.duplicateFaces; o.zeroAreaFaces = r.zeroAreaFaces; o.components = r.components; o.eulerCharacteristic = r.eulerCharacteristic; o.area = r.area; return o;
}
void repair(Mesh& mesh, int holes) { Surface s = toSurface(mesh); repairSurface(s, holes); mesh.faces = s.faces; }
void writeMesh(const std::string& fileName, const Mesh& mesh) { if (!::writeMesh(fileName, toSurface(mesh))) throw Error("cannot write \"" + fileName + "\""); }
}
