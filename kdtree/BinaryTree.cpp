#include "kdtree/BinaryTree.h"

BinaryTree::BinaryTree(iBase* payload) : data(payload) {}

BinaryTree::~BinaryTree()
{
    if (ownsLeft && left != nullptr)
        delete left;
    if (ownsRight && right != nullptr)
        delete right;
    if (ownsData && data != nullptr)
        delete data;
}

void BinaryTree::attachLeft(BinaryTree* child)
{
    ownsLeft = true;
    if (child != nullptr)
        child->parent = this;
    left = child;
}

void BinaryTree::attachRight(BinaryTree* child)
{
    ownsRight = true;
    if (child != nullptr)
        child->parent = this;
    right = child;
}
