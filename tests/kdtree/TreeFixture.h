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
#include <cmath>
#include <memory>
#include <random>
#include <utility>
#include <vector>

using Tree = KDTree<double>;
using testsupport::loadPoints;

// The tree over nodes as a KD run builds it.
inline std::unique_ptr<Tree> treeOver(const Nodes& nodes, unsigned threads = 1)
{
    auto tree = std::make_unique<Tree>();
    tree->build(nodes, nullptr, threads);
    return tree;
}

// The same tree built the plain way, from three sorted lists.
inline std::unique_ptr<BinaryTree> sortedListsTree(const Nodes& nodes)
{
    return reference::buildFromSortedLists(nodes);
}

inline void buildIndex(IndexedPoints& r)
{
    r.kdTree.build(r.nodes);
}

inline ReconNode* pointOf(const BinaryTree* leaf)
{
    return static_cast<const reference::KDReconNode*>(leaf->data)->node;
}

inline const CGSplane& planeOf(const BinaryTree* inner)
{
    return static_cast<const reference::KDSplane*>(inner->data)->plane;
}

inline Nodes leavesOf(const BinaryTree* node)
{
    Nodes out;
    reference::reportSubtree(out, node);
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

// The same for the program's tree, read through its nodes.
inline std::size_t depthOf(const Tree& tree)
{
    std::size_t deepest = 0;
    std::vector<std::pair<Tree::Node, std::size_t>> stack = {{tree.root(), 0}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        if (node.isLeaf()) {
            deepest = std::max(deepest, depth);
            continue;
        }
        stack.push_back({node.left(), depth + 1});
        stack.push_back({node.right(), depth + 1});
    }
    return deepest;
}

inline ReconNode* makeNode(double x, double y, double z, std::size_t index)
{
    return new ReconNode(CGVertex{x, y, z}, CGVector{0.0, 0.0, 1.0}, index);
}

// A cloud of awkward kind (0 to kCloudKinds - 1) from seed, appended to r's
// nodes: scattered points, a sphere's surface, a grid of exact ties with
// coincident points, and those again far from the origin (1e6, 2^40, 2^52)
// and at tiny and huge scales. Far from the origin the rounding of a
// query's midpoint is large against the spacing; that is where a search
// that trusts rounding too far goes wrong.
constexpr int kCloudKinds = 9;

inline void addCloud(Reconstruct& r, int kind, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double offsets[kCloudKinds] = {0.0, 0.0, 0.0, 1e6, 1099511627776.0, 4503599627370496.0, 0.0, 0.0, 0.0};
    const double scales[kCloudKinds] = {1.0, 1.0, 1.0, 1e-3, 1e-3, 1.0, 1e-90, 1e90, 1e-160};
    const double offset = offsets[kind];
    const double scale = scales[kind];
    const int count = 150 + static_cast<int>(random() % 150);
    for (int i = 0; i < count; ++i) {
        CGVertex p;
        CGVector n;
        if (kind == 0) {
            p = {unit(random), unit(random), unit(random)};
            n = {unit(random), unit(random), unit(random)};
        } else if (kind == 2 || kind == 5) {
            // Integer places: distances tie exactly, and every fifth point
            // lands on one taken before.
            const int side = 12;
            const int at = (i % 5 == 4 && i > 0) ? static_cast<int>(random() % static_cast<unsigned>(i)) : i;
            p = {static_cast<double>(at % side), static_cast<double>(at / side % side), static_cast<double>(at / 144)};
            n = {0.0, 0.0, 1.0};
        } else {
            double x = unit(random), y = unit(random), z = unit(random);
            const double length = std::sqrt(x * x + y * y + z * z);
            if (length < 1e-3) {
                --i;
                continue;
            }
            x /= length, y /= length, z /= length;
            p = {x * 10.0, y * 10.0, z * 10.0};
            n = {x, y, z};
        }
        r.addNode(CGVertex{p.x * scale + offset, p.y * scale + offset, p.z * scale + offset}, n);
    }
}
