#include "kdtree/BinaryTree.h"

#include "kdtree/TreeFixture.h"
#include "search/CandidateIndex.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class CountedPayload : public iBase {
public:
    explicit CountedPayload(int& destroyed) : destroyed_(destroyed) {}
    ~CountedPayload() override { ++destroyed_; }

private:
    int& destroyed_;
};

}  // namespace

TEST(BinaryTree, DestroysOnlyWhatItOwns)
{
    int destroyed = 0;
    BinaryTree* kept = new BinaryTree(new CountedPayload(destroyed));
    {
        BinaryTree root(new CountedPayload(destroyed));
        root.attachLeft(new BinaryTree(new CountedPayload(destroyed)));
        root.attachRight(kept);
        root.ownsRight = false;
    }
    EXPECT_EQ(destroyed, 2);
    delete kept;
    EXPECT_EQ(destroyed, 3);
}

TEST(BinaryTree, DestroyingATreeLeavesItsPointsAlone)
{
    // The points belong to the engine; a sanitizer build catches any touch.
    Reconstruct r;
    loadPoints(r, "0 0 0 0 0 1\n"
                  "1 0 0 0 0 1\n"
                  "0 1 0 0 0 1\n"
                  "0 0 1 0 0 1\n");
    treeOver(r.nodes).reset();
    for (const ReconNode* n : r.nodes)
        EXPECT_TRUE(n->isFree());
}

TEST(BinaryTree, ReconstructFreesItsTreeBeforeItsNodes)
{
    // Destroying the engine after a KD run frees the tree first, so no leaf
    // ever points at a node already gone; a sanitizer build checks nothing
    // leaks and nothing is freed twice.
    auto r = std::make_unique<Reconstruct>();
    loadPoints(*r, "0 0 0 0 0 1\n"
                   "1 0 0 0 0 1\n"
                   "0 1 0 0 0 1\n"
                   "1 1 0 0 0 1\n"
                   "2 0 0 0 0 1\n");
    r->triangulate(true);
    ASSERT_NE(r->index()->tree().root, nullptr);
    EXPECT_FALSE(r->triangles.empty());
    r.reset();
}
