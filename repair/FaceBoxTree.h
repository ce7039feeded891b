#pragma once

#include "geometry/Surface.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// An axis-aligned box.
struct Box {
    double low[3] = {0.0, 0.0, 0.0};
    double high[3] = {0.0, 0.0, 0.0};

    bool meets(const Box& other) const
    {
        for (int k = 0; k < 3; ++k)
            if (low[k] > other.high[k] || other.low[k] > high[k])
                return false;
        return true;
    }
};

// The smallest box holding both.
inline Box merged(const Box& a, const Box& b)
{
    Box box;
    for (int k = 0; k < 3; ++k) {
        box.low[k] = std::min(a.low[k], b.low[k]);
        box.high[k] = std::max(a.high[k], b.high[k]);
    }
    return box;
}

Box boxOf(const std::vector<CGVertex>& positions, const Face& face);

// A box tree over faces: which faces' boxes meet a given box. A face
// appended or changed after the build joins the leaf whose box grows
// least and widens the boxes above it, so the tree stays a little looser
// but never misses a face.
class FaceBoxTree {
public:
    // The faces' boxes and places along the curve are worked out on up to
    // threads threads; the tree is the same for every count.
    FaceBoxTree(const std::vector<CGVertex>& positions, const Faces& faces, unsigned threads = 1);

    // Appends to found every face (index into the faces given) whose box
    // meets the box, each once, in no particular order.
    void query(const Box& box, std::vector<std::uint32_t>& found) const;

    // Calls visit(f, g), f < g, once for every two faces whose boxes meet,
    // in no particular order. One walk over pairs of nodes visits each pair
    // once, where a query per face would find every pair twice.
    template <class Visit>
    void forEachMeetingPair(Visit&& visit) const;

    // Two nodes whose faces' pairs are walked together.
    using NodePair = std::pair<std::uint32_t, std::uint32_t>;

    // Cuts the walk of forEachMeetingPair into at least parts pieces where
    // the tree has that many, so threads can share it: walking every piece
    // once visits every pair of meeting faces once.
    std::vector<NodePair> meetingPairParts(std::size_t parts) const;

    // Calls visit(f, g), f < g, for the pairs of one piece.
    template <class Visit>
    void forEachMeetingPairIn(NodePair part, Visit&& visit) const;

    // The box of a face the tree knows, as it was when the tree last took
    // the face in.
    const Box& faceBox(std::uint32_t face) const { return boxes_[face]; }

    // Takes a face that was appended or changed in place since the build.
    void refresh(std::uint32_t face);

    // Lets the face's box take in the box as well, and the boxes above it:
    // a query then finds the face wherever its corners may move inside the
    // box, with no change to the tree while threads query it. faceBox
    // gives the wider box until the face is refreshed.
    void loosen(std::uint32_t face, const Box& box);

    // Follows the face list after it kept only the faces marked in kept (one
    // mark per face the tree knows), the rest closing up in order: the tree
    // renames its faces instead of being built again, so the steps of a
    // repair can share one.
    void keepOnly(const std::vector<bool>& kept);

    // Builds the tree afresh over the faces as they are now: after many
    // faces have come and gone, its boxes are looser than they need be.
    void tighten() { build(); }

private:
    struct Node {
        Box box;
        std::uint32_t first = 0;  // leaves: range in order_; inner nodes: the right child (the left is next)
        std::uint32_t count = 0;
        std::uint32_t parent = 0;
        std::uint32_t joined = 0;  // leaves: 1 + the list in joined_ of faces that came later, or 0
        std::uint32_t cut = 0;     // inner nodes: the right child's first key along the curve
        bool leaf = false;
    };

    void build();
    void sortAlongCurve();
    // where the box's centre lies along the curve the build sorted by
    std::uint32_t curveKey(const Box& box) const;
    std::uint32_t buildRange(std::uint32_t first, std::uint32_t last, std::uint32_t parent);
    std::uint32_t leafFor(const Box& box) const;
    // widens the face's leaf and the boxes above it to hold its box
    void widenAbove(std::uint32_t face);
    void leafFaces(const Node& leaf, std::vector<std::uint32_t>& faces) const;
    template <class Visit>
    void forEachInLeaf(const Node& leaf, Visit&& visit) const;

    static constexpr std::uint32_t kGoneFace = 0xffffffffu;  // a place in a leaf whose face was dropped

    const std::vector<CGVertex>& positions_;
    const Faces& faces_;
    unsigned threads_ = 1;
    std::vector<Box> boxes_;
    std::vector<std::uint32_t> order_;
    std::vector<std::uint32_t> keys_;  // while building: each place's key along the curve
    double curveLow_[3] = {0.0, 0.0, 0.0};
    double curveScale_[3] = {0.0, 0.0, 0.0};
    std::vector<Node> nodes_;
    std::vector<std::uint32_t> leafOf_;  // per face
    std::vector<std::vector<std::uint32_t>> joined_;
    std::size_t joinedSinceBuild_ = 0;
};

template <class Visit>
void FaceBoxTree::forEachInLeaf(const Node& leaf, Visit&& visit) const
{
    for (std::uint32_t i = leaf.first; i < leaf.first + leaf.count; ++i)
        if (order_[i] != kGoneFace)
            visit(order_[i]);
    if (leaf.joined > 0)
        for (const std::uint32_t f : joined_[leaf.joined - 1])
            visit(f);
}

template <class Visit>
void FaceBoxTree::forEachMeetingPair(Visit&& visit) const
{
    if (!nodes_.empty())
        forEachMeetingPairIn({0u, 0u}, visit);
}

template <class Visit>
void FaceBoxTree::forEachMeetingPairIn(NodePair part, Visit&& visit) const
{
    const auto meet = [this, &visit](std::uint32_t f, std::uint32_t g) {
        if (boxes_[f].meets(boxes_[g]))
            f < g ? visit(f, g) : visit(g, f);
    };
    std::vector<NodePair> stack{part};
    std::vector<std::uint32_t> ones, others;
    while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        const Node& one = nodes_[x];
        const Node& other = nodes_[y];
        if (x == y) {
            if (one.leaf) {
                leafFaces(one, ones);
                for (std::size_t i = 0; i < ones.size(); ++i)
                    for (std::size_t j = i + 1; j < ones.size(); ++j)
                        meet(ones[i], ones[j]);
            } else {
                stack.push_back({x + 1, x + 1});
                stack.push_back({one.first, one.first});
                stack.push_back({x + 1, one.first});
            }
            continue;
        }
        if (!one.box.meets(other.box))
            continue;
        if (one.leaf && other.leaf) {
            // Only a face that meets the other leaf's box can meet a face in
            // it: pair those of each side alone.
            ones.clear();
            forEachInLeaf(one, [&](std::uint32_t f) {
                if (boxes_[f].meets(other.box))
                    ones.push_back(f);
            });
            if (ones.empty())
                continue;
            others.clear();
            forEachInLeaf(other, [&](std::uint32_t g) {
                if (boxes_[g].meets(one.box))
                    others.push_back(g);
            });
            for (const std::uint32_t f : ones)
                for (const std::uint32_t g : others)
                    meet(f, g);
        } else if (!one.leaf) {
            stack.push_back({x + 1, y});
            stack.push_back({one.first, y});
        } else {
            stack.push_back({x, y + 1});
            stack.push_back({x, other.first});
        }
    }
}
