// The fuzzers are only as good as the invariant check they run, so each
// kind of broken mesh must be caught by it.

#include "fuzz/MeshInvariants.h"
#include "mesh/Reconstruct.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One triangle over three of four points; the fourth stays free.
void oneTriangle(Reconstruct& engine)
{
    engine.addNode({0, 0, 0}, {0, 0, 1});
    engine.addNode({1, 0, 0}, {0, 0, 1});
    engine.addNode({0, 1, 0}, {0, 0, 1});
    engine.addNode({5, 5, 5}, {0, 0, 1});
    engine.addTriangle(engine.nodes[0], engine.nodes[1], engine.nodes[2]);
    engine.front.clear();
}

bool mentions(const std::string& fault, const char* words)
{
    return fault.find(words) != std::string::npos;
}

}  // namespace

TEST(MeshInvariants, AcceptAFinishedTriangle)
{
    Reconstruct engine;
    oneTriangle(engine);
    EXPECT_EQ(findInvariantFault(engine), "");
}

TEST(MeshInvariants, AcceptAFinishedRun)
{
    // Four corners of a tetrahedron close into a surface.
    Reconstruct engine;
    engine.addNode({0, 0, 0}, {-1, -1, -1});
    engine.addNode({1, 0, 0}, {1, 0, 0});
    engine.addNode({0, 1, 0}, {0, 1, 0});
    engine.addNode({0, 0, 1}, {0, 0, 1});
    engine.triangulate(false);
    EXPECT_EQ(findInvariantFault(engine), "");
}

TEST(MeshInvariants, CatchAnOpenFront)
{
    Reconstruct engine;
    oneTriangle(engine);
    engine.front.push_back(engine.nodes[0]->edges[0]);
    EXPECT_TRUE(mentions(findInvariantFault(engine), "front"));
}

TEST(MeshInvariants, CatchAnEdgeWhoseReverseCountsDifferently)
{
    Reconstruct engine;
    oneTriangle(engine);
    findEdge(engine.nodes[0], engine.nodes[1])->triangleCount = 2;
    EXPECT_TRUE(mentions(findInvariantFault(engine), "reverse count"));
}

TEST(MeshInvariants, CatchAnEdgeWithoutReverse)
{
    Reconstruct engine;
    oneTriangle(engine);
    engine.newEdge(engine.nodes[0], engine.nodes[3])->triangleCount = 1;
    EXPECT_TRUE(mentions(findInvariantFault(engine), "without its reverse"));
}

TEST(MeshInvariants, CatchACountAboveTwo)
{
    Reconstruct engine;
    oneTriangle(engine);
    findEdge(engine.nodes[0], engine.nodes[1])->triangleCount = 3;
    findEdge(engine.nodes[1], engine.nodes[0])->triangleCount = 3;
    EXPECT_TRUE(mentions(findInvariantFault(engine), "neither 1 nor 2"));
}

TEST(MeshInvariants, CatchATriangleCornerOnAFreeNode)
{
    Reconstruct engine;
    oneTriangle(engine);
    Triangle extra = engine.triangles[0];
    extra.source[2] = 3;
    engine.triangles.push_back(extra);
    EXPECT_TRUE(mentions(findInvariantFault(engine), "free node"));
}

TEST(MeshInvariants, CatchAnEdgeThatBelongsToNoTriangle)
{
    Reconstruct engine;
    oneTriangle(engine);
    engine.newEdge(engine.nodes[3], engine.nodes[0])->triangleCount = 1;
    engine.newEdge(engine.nodes[0], engine.nodes[3])->triangleCount = 1;
    EXPECT_TRUE(mentions(findInvariantFault(engine), "no triangle's corner"));
}
