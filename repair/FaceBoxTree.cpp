#include "repair/FaceBoxTree.h"

#include "repair/ThreadParts.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace {

constexpr std::uint32_t kLeafFaces = 8;

// Faces that joined leaves after the build, as a share of the faces: past
// this the tree is built again, as loose leaves with long lists of late
// faces slow every query down more than a build costs. A late face joins
// the leaf of its own cell, so lists stay short for longer: an eighth
// saves the refill's builds on a 100k surface at no cost in queries.
constexpr std::size_t kMostJoinedShare = 8;
constexpr std::uint32_t kNoLeaf = 0xffffffffu;

// Below this many faces a thread costs more to start than it saves.
constexpr std::size_t kFacesWorthAThread = 20000;

// Whether the box outer holds the box inner, so that merging the two
// gives outer as it is.
bool holds(const Box& outer, const Box& inner)
{
    for (int k = 0; k < 3; ++k)
        if (!(outer.low[k] <= inner.low[k]) || !(inner.high[k] <= outer.high[k]))
            return false;
    return true;
}

// Cells of the space-filling curve per axis: finer than the leaves need
// on a million faces, and a key of 30 bits sorts in three passes.
constexpr int kCurveBits = 10;

// The low kCurveBits bits of x, each moved to bit 3 * i, so three of them
// interleave into a key along the curve.
std::uint32_t spreadBits(std::uint32_t x)
{
    x &= 0x3ffu;
    x = (x | x << 16) & 0x30000ffu;
    x = (x | x << 8) & 0x300f00fu;
    x = (x | x << 4) & 0x30c30c3u;
    x = (x | x << 2) & 0x9249249u;
    return x;
}

// Sorts by key, ties in the order given: a radix sort of kCurveBits bits
// a pass.
void sortByKey(std::vector<std::pair<std::uint32_t, std::uint32_t>>& keyed)
{
    constexpr std::uint32_t kDigits = 1u << kCurveBits;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> other(keyed.size());
    std::vector<std::uint32_t> counts(kDigits + 1);
    for (int pass = 0; pass < 3; ++pass) {
        const int shift = kCurveBits * pass;
        std::fill(counts.begin(), counts.end(), 0u);
        for (const auto& item : keyed)
            ++counts[((item.first >> shift) & (kDigits - 1)) + 1];
        for (std::uint32_t d = 0; d < kDigits; ++d)
            counts[d + 1] += counts[d];
        for (const auto& item : keyed)
            other[counts[(item.first >> shift) & (kDigits - 1)]++] = item;
        keyed.swap(other);
    }
}

double coordinate(const CGVertex& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

}  // namespace

Box boxOf(const std::vector<CGVertex>& positions, const Face& face)
{
    Box box;
    for (int k = 0; k < 3; ++k) {
        box.low[k] = box.high[k] = coordinate(positions[face[0]], k);
        for (int c = 1; c < 3; ++c) {
            const double x = coordinate(positions[face[c]], k);
            box.low[k] = std::min(box.low[k], x);
            box.high[k] = std::max(box.high[k], x);
        }
    }
    return box;
}

FaceBoxTree::FaceBoxTree(const std::vector<CGVertex>& positions, const Faces& faces, unsigned threads)
    : positions_(positions), faces_(faces), threads_(std::max(1u, std::min(threads, 8u)))
{
    build();
}

void FaceBoxTree::build()
{
    nodes_.clear();
    joined_.clear();
    joinedSinceBuild_ = 0;
    boxes_.resize(faces_.size());
    order_.resize(faces_.size());
    leafOf_.resize(faces_.size());
    const unsigned parts = faces_.size() < kFacesWorthAThread ? 1 : threads_;
    forEachPart(parts, [this, parts](unsigned part) {
        const std::size_t last = partStart(faces_.size(), part + 1, parts);
        for (std::size_t f = partStart(faces_.size(), part, parts); f < last; ++f)
            boxes_[f] = boxOf(positions_, faces_[f]);
    });
    if (!faces_.empty()) {
        sortAlongCurve();
        nodes_.reserve(2 * faces_.size() / kLeafFaces + 1);
        buildRange(0, static_cast<std::uint32_t>(faces_.size()), 0);
        std::vector<std::uint32_t>().swap(keys_);
    }
}

void FaceBoxTree::sortAlongCurve()
{
    Box all = boxes_[0];
    for (const Box& box : boxes_)
        all = merged(all, box);
    for (int k = 0; k < 3; ++k) {
        const double extent = all.high[k] - all.low[k];
        curveLow_[k] = all.low[k];
        const double scale = extent > 0.0 ? ((1u << kCurveBits) - 1) / extent : 0.0;
        // a subnormal extent would make the scale infinite, and a centre
        // at the low side then zero times infinity
        curveScale_[k] = std::isfinite(scale) ? scale : 0.0;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keyed(boxes_.size());
    const unsigned parts = boxes_.size() < kFacesWorthAThread ? 1 : threads_;
    forEachPart(parts, [this, parts, &keyed](unsigned part) {
        const std::size_t last = partStart(boxes_.size(), part + 1, parts);
        for (std::size_t f = partStart(boxes_.size(), part, parts); f < last; ++f)
            keyed[f] = {curveKey(boxes_[f]), static_cast<std::uint32_t>(f)};
    });
    sortByKey(keyed);
    keys_.resize(keyed.size());
    for (std::uint32_t i = 0; i < keyed.size(); ++i) {
        order_[i] = keyed[i].second;
        keys_[i] = keyed[i].first;
    }
}

std::uint32_t FaceBoxTree::curveKey(const Box& box) const
{
    std::uint32_t key = 0;
    for (int k = 0; k < 3; ++k) {
        // twice the centre's offset, so the scale takes the half
        const double t = (box.low[k] + box.high[k] - 2.0 * curveLow_[k]) * (0.5 * curveScale_[k]);
        // NaN (from infinite coordinates) takes the first cell: converting
        // it to an integer is undefined
        const double last = double((1u << kCurveBits) - 1);
        const auto cell = static_cast<std::uint32_t>(t > 0.0 ? std::min(t, last) : 0.0);
        key |= spreadBits(cell) << k;
    }
    return key;
}

std::uint32_t FaceBoxTree::buildRange(std::uint32_t first, std::uint32_t last, std::uint32_t parent)
{
    const auto at = static_cast<std::uint32_t>(nodes_.size());
    nodes_.emplace_back();
    nodes_[at].parent = parent;
    if (last - first <= kLeafFaces) {
        Box box = boxes_[order_[first]];
        for (std::uint32_t i = first + 1; i < last; ++i)
            box = merged(box, boxes_[order_[i]]);
        nodes_[at].box = box;
        nodes_[at].first = first;
        nodes_[at].count = last - first;
        nodes_[at].leaf = true;
        for (std::uint32_t i = first; i < last; ++i)
            leafOf_[order_[i]] = at;
        return at;
    }
    // The faces lie in space-filling-curve order. Cut where the curve
    // leaves one cell for the next, at the coarsest level the range spans:
    // a cut at a count alone can take in faces at both ends of one of the
    // curve's long jumps, a box across much of the surface that every
    // query there has to open.
    std::uint32_t middle = first + (last - first) / 2;
    const std::uint32_t differ = keys_[first] ^ keys_[last - 1];
    if (differ != 0) {
        std::uint32_t top = 1u << 31;
        while ((differ & top) == 0)
            top >>= 1;
        const std::uint32_t cut = (keys_[last - 1] & ~(top - 1));
        middle = static_cast<std::uint32_t>(std::lower_bound(keys_.begin() + first, keys_.begin() + last, cut) -
                                            keys_.begin());
    }
    buildRange(first, middle, at);  // the left child follows its parent
    const std::uint32_t right = buildRange(middle, last, at);
    nodes_[at].first = right;
    nodes_[at].cut = keys_[middle];
    // the children's boxes, each built once, rather than every face again at every level
    nodes_[at].box = merged(nodes_[at + 1].box, nodes_[right].box);
    return at;
}

void FaceBoxTree::query(const Box& box, std::vector<std::uint32_t>& found) const
{
    if (nodes_.empty())
        return;
    std::uint32_t stack[128];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const std::uint32_t at = stack[--top];
        const Node& node = nodes_[at];
        if (!node.box.meets(box))
            continue;
        if (node.leaf) {
            for (std::uint32_t i = node.first; i < node.first + node.count; ++i)
                if (order_[i] != kGoneFace && boxes_[order_[i]].meets(box))
                    found.push_back(order_[i]);
            if (node.joined > 0)
                for (std::uint32_t f : joined_[node.joined - 1])
                    if (boxes_[f].meets(box))
                        found.push_back(f);
        } else {
            stack[top++] = node.first;
            stack[top++] = at + 1;
        }
    }
}

std::vector<FaceBoxTree::NodePair> FaceBoxTree::meetingPairParts(std::size_t parts) const
{
    std::vector<NodePair> done;
    if (nodes_.empty())
        return done;
    // splits pieces breadth first as the walk would, so the pieces stay of like size
    std::vector<NodePair> open{{0u, 0u}}, next;
    while (!open.empty() && done.size() + open.size() < parts) {
        next.clear();
        for (const auto& [x, y] : open) {
            const Node& one = nodes_[x];
            const Node& other = nodes_[y];
            if (x == y) {
                if (one.leaf) {
                    done.push_back({x, y});
                } else {
                    next.push_back({x + 1, x + 1});
                    next.push_back({one.first, one.first});
                    next.push_back({x + 1, one.first});
                }
            } else if (!one.box.meets(other.box)) {
                continue;
            } else if (one.leaf && other.leaf) {
                done.push_back({x, y});
            } else if (!one.leaf) {
                next.push_back({x + 1, y});
                next.push_back({one.first, y});
            } else {
                next.push_back({x, y + 1});
                next.push_back({x, other.first});
            }
        }
        open.swap(next);
    }
    done.insert(done.end(), open.begin(), open.end());
    return done;
}

void FaceBoxTree::leafFaces(const Node& leaf, std::vector<std::uint32_t>& faces) const
{
    faces.clear();
    for (std::uint32_t i = leaf.first; i < leaf.first + leaf.count; ++i)
        if (order_[i] != kGoneFace)
            faces.push_back(order_[i]);
    if (leaf.joined > 0)
        faces.insert(faces.end(), joined_[leaf.joined - 1].begin(), joined_[leaf.joined - 1].end());
}

std::uint32_t FaceBoxTree::leafFor(const Box& box) const
{
    // The leaf of the cell the face's centre lies in, as the build would
    // have placed it: inner nodes split the curve at a cell's edge, so
    // the key alone finds the way down.
    const std::uint32_t key = curveKey(box);
    std::uint32_t at = 0;
    while (!nodes_[at].leaf)
        at = key < nodes_[at].cut ? at + 1 : nodes_[at].first;
    return at;
}

void FaceBoxTree::refresh(std::uint32_t face)
{
    if (face >= boxes_.size()) {
        boxes_.resize(face + 1);
        leafOf_.resize(face + 1, kNoLeaf);
    }
    boxes_[face] = boxOf(positions_, faces_[face]);
    if (nodes_.empty()) {
        // a tree over no faces: one leaf with nothing of its own
        nodes_.emplace_back();
        nodes_[0].box = boxes_[face];
        nodes_[0].leaf = true;
    }
    if (leafOf_[face] == kNoLeaf && ++joinedSinceBuild_ * kMostJoinedShare > boxes_.size() &&
        face + 1 == faces_.size()) {
        build();
        return;
    }
    if (leafOf_[face] == kNoLeaf) {
        const std::uint32_t leaf = leafFor(boxes_[face]);
        if (nodes_[leaf].joined == 0) {
            joined_.emplace_back();
            nodes_[leaf].joined = static_cast<std::uint32_t>(joined_.size());
        }
        joined_[nodes_[leaf].joined - 1].push_back(face);
        leafOf_[face] = leaf;
    }
    widenAbove(face);
}

void FaceBoxTree::loosen(std::uint32_t face, const Box& box)
{
    assert(face < leafOf_.size() && leafOf_[face] != kNoLeaf);
    boxes_[face] = merged(boxes_[face], box);
    widenAbove(face);
}

void FaceBoxTree::widenAbove(std::uint32_t face)
{
    // a box that holds the face's already stays as it is, as does every
    // box above it, which holds it
    std::uint32_t at = leafOf_[face];
    for (;;) {
        if (holds(nodes_[at].box, boxes_[face]))
            break;
        nodes_[at].box = merged(nodes_[at].box, boxes_[face]);
        if (at == 0)
            break;
        at = nodes_[at].parent;
    }
}

void FaceBoxTree::keepOnly(const std::vector<bool>& kept)
{
    assert(kept.size() == boxes_.size());
    std::vector<std::uint32_t> renamed(kept.size(), kGoneFace);
    std::uint32_t next = 0;
    for (std::uint32_t f = 0; f < kept.size(); ++f) {
        if (!kept[f])
            continue;
        renamed[f] = next;
        boxes_[next] = boxes_[f];
        leafOf_[next] = leafOf_[f];
        ++next;
    }
    boxes_.resize(next);
    leafOf_.resize(next);
    // the boxes above a dropped face stay as wide as they were: looser, never wrong
    for (std::uint32_t& f : order_)
        if (f != kGoneFace)
            f = renamed[f];
    for (std::vector<std::uint32_t>& list : joined_) {
        std::size_t at = 0;
        for (const std::uint32_t f : list)
            if (renamed[f] != kGoneFace)
                list[at++] = renamed[f];
        list.resize(at);
    }
}
