#pragma once

#include "kdtree/iBase.h"

// A plain binary tree node with a polymorphic payload. A node is a leaf
// exactly when both children are null. What it destroys with itself is
// decided by the three owns flags, which start true.
class BinaryTree {
public:
    // Takes ownership of payload (which may be null).
    explicit BinaryTree(iBase* payload);

    // Destroys the owned left subtree, then the owned right subtree, then the
    // owned payload. Recursion goes as deep as the tree does, no deeper.
    ~BinaryTree();

    BinaryTree(const BinaryTree&) = delete;
    BinaryTree& operator=(const BinaryTree&) = delete;

    // Store child (null allowed) as the lower/upper child and own it.
    void attachLeft(BinaryTree* child);
    void attachRight(BinaryTree* child);

    bool isLeaf() const { return left == nullptr && right == nullptr; }

    iBase* data = nullptr;
    BinaryTree* parent = nullptr;  // not owned; null at the root
    BinaryTree* left = nullptr;
    BinaryTree* right = nullptr;
    bool ownsData = true;
    bool ownsLeft = true;
    bool ownsRight = true;
};
