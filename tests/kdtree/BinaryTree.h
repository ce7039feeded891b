#pragma once

#include "kdtree/iBase.h"

// A plain binary tree node with a polymorphic payload, the record per node
// of the reference tree. A node is a leaf exactly when both children are
// null. What it destroys with itself is decided by the three owns flags,
// which start true.
class BinaryTree {
public:
    // Takes ownership of payload (which may be null).
    explicit BinaryTree(iBase* payload) : data(payload) {}

    // Destroys the owned left subtree, then the owned right subtree, then the
    // owned payload. Recursion goes as deep as the tree does, no deeper.
    ~BinaryTree()
    {
        if (ownsLeft && left != nullptr)
            delete left;
        if (ownsRight && right != nullptr)
            delete right;
        if (ownsData && data != nullptr)
            delete data;
    }

    BinaryTree(const BinaryTree&) = delete;
    BinaryTree& operator=(const BinaryTree&) = delete;

    // Store child (null allowed) as the lower/upper child and own it.
    void attachLeft(BinaryTree* child)
    {
        ownsLeft = true;
        if (child != nullptr)
            child->parent = this;
        left = child;
    }
    void attachRight(BinaryTree* child)
    {
        ownsRight = true;
        if (child != nullptr)
            child->parent = this;
        right = child;
    }

    bool isLeaf() const { return left == nullptr && right == nullptr; }

    iBase* data = nullptr;
    BinaryTree* parent = nullptr;  // not owned; null at the root
    BinaryTree* left = nullptr;
    BinaryTree* right = nullptr;
    bool ownsData = true;
    bool ownsLeft = true;
    bool ownsRight = true;
};
