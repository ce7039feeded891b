#pragma once

// PLACEHOLDER: the KD-tree is being written; only the interface the engine
// calls is fixed here.

#include "geometry/CGSplane.h"
#include "geometry/CGVertex.h"
#include "mesh/ReconNode.h"

#include <cstddef>
#include <cstdint>

class iBase {
public:
    virtual ~iBase() = 0;
};

inline iBase::~iBase() = default;

class BinaryTree {
public:
    explicit BinaryTree(iBase* payload) : data(payload) {}
    ~BinaryTree()
    {
        if (ownsLeft) delete left;
        if (ownsRight) delete right;
        if (ownsData) delete data;
    }
    BinaryTree(const BinaryTree&) = delete;
    BinaryTree& operator=(const BinaryTree&) = delete;

    iBase* data = nullptr;
    BinaryTree* parent = nullptr;
    BinaryTree* left = nullptr;
    BinaryTree* right = nullptr;
    bool ownsData = true;
    bool ownsLeft = true;
    bool ownsRight = true;
};

template <typename T>
class KDTree {
public:
    class SearchRange {
    public:
        virtual ~SearchRange() {}
        virtual bool contains(const ReconNode* point) const = 0;
        virtual void bounds(CGVertex& min, CGVertex& max) const = 0;
    };

    KDTree() = default;
    ~KDTree() { delete root; }
    KDTree(const KDTree&) = delete;
    KDTree& operator=(const KDTree&) = delete;

    static void sortByAxis(Nodes& list, std::size_t first, std::size_t last, std::uint8_t axis);
    static BinaryTree* buildTree(const Nodes& xs, const Nodes& ys, const Nodes& zs, std::uint8_t axis);
    static void rangeSearch(Nodes& out, const BinaryTree* node, CGVertex low, CGVertex high, const SearchRange* range);

    BinaryTree* root = nullptr;  // owned
};

template <typename T>
void KDTree<T>::sortByAxis(Nodes&, std::size_t, std::size_t, std::uint8_t) {}

template <typename T>
BinaryTree* KDTree<T>::buildTree(const Nodes&, const Nodes&, const Nodes&, std::uint8_t) { return nullptr; }

template <typename T>
void KDTree<T>::rangeSearch(Nodes&, const BinaryTree*, CGVertex, CGVertex, const SearchRange*) {}
