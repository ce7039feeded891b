#pragma once

// Shared by the tree and the candidate tests: a tree built over a node list
// the way a KD run builds it or by the reference build, and ways to look
// inside it.

#include "kdtree/KDTree.h"
#include "kdtree/ReferenceTree.h"
#include "mesh/Reconstruct.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

using Tree = KDTree<double>;
using testsupport::loadPoints;

// The tree over nodes as a KD run builds it.
inline std::unique_ptr<Tree> treeOver(const Nodes& nodes)
{
    auto tree = std::make_unique<Tree>();
    tree->root = tree->buildOver(nodes);
    return tree;
}

// The same tree built the plain way, from three sorted lists.
inline std::unique_ptr<Tree> sortedListsTree(const Nodes& nodes)
{
    auto tree = std::make_unique<Tree>();
    reference::buildFromSortedLists(*tree, nodes);
    return tree;
}

inline void buildIndex(Reconstruct& r)
{
    r.kdTree.root = r.kdTree.buildOver(r.nodes);
}

inline ReconNode* pointOf(const BinaryTree* leaf)
{
    return static_cast<const Tree::KDReconNode*>(leaf->data)->node;
}

inline const CGSplane& planeOf(const BinaryTree* inner)
{
    return static_cast<const Tree::KDSplane*>(inner->data)->plane;
}

inline Nodes leavesOf(const BinaryTree* node)
{
    Nodes out;
    Tree::reportSubtree(out, node);
    return out;
}

// The depth of the deepest leaf, found without recursion so that a
// degenerate tree fails the test instead of crashing it.
inline std::size_t depthOf(const BinaryTree* root)
{
    std::size_t deepest = 0;
    std::vector<std::pair<const BinaryTree*, std::size_t>> stack = {{root, 0}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        if (node->isLeaf()) {
            deepest = std::max(deepest, depth);
            continue;
        }
        stack.push_back({node->left, depth + 1});
        stack.push_back({node->right, depth + 1});
    }
    return deepest;
}

inline ReconNode* makeNode(double x, double y, double z, std::size_t index)
{
    return new ReconNode(CGVertex{x, y, z}, CGVector{0.0, 0.0, 1.0}, index);
}
