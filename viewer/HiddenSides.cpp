#include "viewer/HiddenSides.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <thread>

namespace {

// How far from its line a pixel centre a side lights may lie, in pixels: a
// one-pixel line lights centres within half a pixel of it, ends included
// (the last half pixel one way or the other by the diamond rule); twice
// that, to spare.
constexpr double kReach = 1.0;
// GL works its depths out in single precision, in its own order; ours may
// differ from its by a few steps of a float near 1. This is some sixty.
constexpr double kDepthMargin = 4e-6;
// A side shorter than this on screen has a depth slope too steep to bound.
constexpr double kShortest = 1e-3;

// A side no longer than this across or up, in pixels, has its box within
// the 5 by 5 pixels about either end.
constexpr double kShortSide = 1.0;
constexpr int kFarSpan = 5;  // floor(2 * (kShortSide + kReach)) + 1

// Below this many, a thread costs more than it saves.
constexpr std::size_t kSidesForTwoThreads = 100000;

constexpr float kOff = std::numeric_limits<float>::quiet_NaN();
constexpr float kNone = std::numeric_limits<float>::infinity();

// Window places are held within a million pixels of the frame, so the
// whole part of one shifted by this much is its floor, without a call.
constexpr double kShift = 1 << 22;

int below(double v)
{
    return static_cast<int>(v + kShift) - static_cast<int>(kShift);
}

int ceiling(double v)
{
    return -below(-v);
}

// Each pixel's deepest over the span pixels from it along rows (step 1)
// or columns (step width), as far as there are pixels; in place, as each
// reads only pixels not yet rewritten.
void deepestAlong(float* map, int count, int step, int lines, int lineStep, int span)
{
    for (int line = 0; line < lines; ++line) {
        float* at = map + static_cast<std::ptrdiff_t>(line) * lineStep;
        for (int i = 0; i < count; ++i) {
            float deepest = at[static_cast<std::ptrdiff_t>(i) * step];
            for (int k = 1; k < span && i + k < count; ++k)
                deepest = std::max(deepest, at[static_cast<std::ptrdiff_t>(i + k) * step]);
            at[static_cast<std::ptrdiff_t>(i) * step] = deepest;
        }
    }
}

}  // namespace

Matrix4 multiplied(const Matrix4& a, const Matrix4& b)
{
    Matrix4 product{};
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            product[column * 4 + row] = sum;
        }
    return product;
}

void HiddenSides::project(const float* positions, std::size_t count, const Matrix4& clipFromModel,
                          const int viewport[4])
{
    const Matrix4& m = clipFromModel;
    const double halfWidth = 0.5 * viewport[2];
    const double halfHeight = 0.5 * viewport[3];
    // Far enough out that nothing is near the frame, near enough for ints.
    const double limit = 1e6;
    points.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double x = positions[3 * i];
        const double y = positions[3 * i + 1];
        const double z = positions[3 * i + 2];
        const double w = m[3] * x + m[7] * y + m[11] * z + m[15];
        const double ahead = (m[2] * x + m[6] * y + m[10] * z + m[14]) / w;
        WindowPoint& point = points[i];
        // Clipped by GL: where its line then starts is not worth working out.
        if (!(w > 0.0) || !(ahead >= -1.0 && ahead <= 1.0)) {
            point = {kOff, kOff, kOff, kNone};
            continue;
        }
        const double across = viewport[0] + ((m[0] * x + m[4] * y + m[8] * z + m[12]) / w + 1.0) * halfWidth;
        const double up = viewport[1] + ((m[1] * x + m[5] * y + m[9] * z + m[13]) / w + 1.0) * halfHeight;
        point.x = static_cast<float>(std::clamp(across, -limit, limit));
        point.y = static_cast<float>(std::clamp(up, -limit, limit));
        point.z = static_cast<float>(0.5 * ahead + 0.5);
    }
}

std::vector<float>& HiddenSides::depthOf(int width, int height)
{
    depthWidth = std::max(width, 0);
    depthHeight = std::max(height, 0);
    depth.resize(static_cast<std::size_t>(depthWidth) * static_cast<std::size_t>(depthHeight));
    return depth;
}

void HiddenSides::boundDepths()
{
    deepest2 = depth;
    deepestAlong(deepest2.data(), depthWidth, 1, depthHeight, depthWidth, 2);
    deepestAlong(deepest2.data(), depthHeight, depthWidth, depthWidth, 1, 2);
    deepest5 = depth;
    deepestAlong(deepest5.data(), depthWidth, 1, depthHeight, depthWidth, kFarSpan);
    deepestAlong(deepest5.data(), depthHeight, depthWidth, depthWidth, 1, kFarSpan);
}

void HiddenSides::boundPoints(std::size_t first, std::size_t last, bool fromDepths)
{
    for (std::size_t i = first; i < last; ++i) {
        WindowPoint& point = points[i];
        showsAlone[i] = 0;
        point.far = kNone;
        if (!fromDepths || std::isnan(point.z))
            continue;
        // The box of a side from here starts at or left of this point's own
        // and ends at or right of it; that is at least two pixels across,
        // and the first two are in every such box. The sums are the full
        // test's, for the same answer.
        const int left = ceiling(point.x - kReach - 0.5);
        const int bottom = ceiling(point.y - kReach - 0.5);
        if (left >= 0 && bottom >= 0 && left + 1 < depthWidth && bottom + 1 < depthHeight) {
            const float near = deepest2[static_cast<std::size_t>(bottom) * static_cast<std::size_t>(depthWidth) +
                                        static_cast<std::size_t>(left)];
            showsAlone[i] = point.z - kDepthMargin < near ? 1 : 0;
        }
        // A side at most kShortSide across and up has its box within
        // kFarSpan pixels from here.
        const int farLeft = ceiling(point.x - kShortSide - kReach - 0.5);
        const int farBottom = ceiling(point.y - kShortSide - kReach - 0.5);
        if (farLeft >= 0 && farBottom >= 0 && farLeft + kFarSpan <= depthWidth && farBottom + kFarSpan <= depthHeight)
            point.far = deepest5[static_cast<std::size_t>(farBottom) * static_cast<std::size_t>(depthWidth) +
                                 static_cast<std::size_t>(farLeft)];
    }
}

bool HiddenSides::hidden(const WindowPoint& a, const WindowPoint& b) const
{
    if (std::isnan(a.z) || std::isnan(b.z))
        return false;
    // First whether the ends' bound settles it, with the same sums as below.
    const float far = std::min(a.far, b.far);
    if (far < kNone) {
        const double closest = std::min(a.z, b.z) - kDepthMargin;
        const double across = static_cast<double>(a.x) - b.x;
        const double up = static_cast<double>(a.y) - b.y;
        if (std::abs(across) <= kShortSide && std::abs(up) <= kShortSide) {
            const double length = std::sqrt(across * across + up * up);
            if (length >= kShortest) {
                const double slope = std::abs(static_cast<double>(a.z) - b.z) / length;
                if (closest - slope * kReach * 1.5 >= far)
                    return true;
            }
        }
    }
    // The pixels whose centres (at half steps) the side may light.
    const int left = std::max(ceiling(std::min(a.x, b.x) - kReach - 0.5), 0);
    const int right = std::min(below(std::max(a.x, b.x) + kReach - 0.5), depthWidth - 1);
    const int bottom = std::max(ceiling(std::min(a.y, b.y) - kReach - 0.5), 0);
    const int top = std::min(below(std::max(a.y, b.y) + kReach - 0.5), depthHeight - 1);
    if (left > right || bottom > top)
        return true;  // wholly outside the pixels drawn into
    // Nearer than the depth at any pixel there, the side shows; that is
    // most of the sides that do, and asks no square root.
    const double closest = std::min(a.z, b.z) - kDepthMargin;
    float farthest = 0.0f;
    for (int y = bottom; y <= top; ++y) {
        const float* row = depth.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(depthWidth);
        for (int x = left; x <= right; ++x) {
            if (closest < row[x])
                return false;
            farthest = std::max(farthest, row[x]);
        }
    }
    const double across = static_cast<double>(a.x) - b.x;
    const double up = static_cast<double>(a.y) - b.y;
    const double length = std::sqrt(across * across + up * up);
    if (length < kShortest)
        return false;
    // GL interpolates depth along the line, and a pixel centre it lights
    // lies at most reach * sqrt(2) beyond an end.
    const double slope = std::abs(static_cast<double>(a.z) - b.z) / length;
    return closest - slope * kReach * 1.5 >= farthest;
}

void HiddenSides::keepInFront(const std::uint32_t* sides, std::size_t count, std::vector<std::uint32_t>& into) const
{
    into.clear();
    const std::size_t known = points.size();
    for (std::size_t i = 0; i + 1 < count; i += 2)
        if (sides[i] >= known || sides[i + 1] >= known || (showsAlone[sides[i]] | showsAlone[sides[i + 1]]) != 0 ||
            !hidden(points[sides[i]], points[sides[i + 1]])) {
            into.push_back(sides[i]);
            into.push_back(sides[i + 1]);
        }
}

const std::vector<std::uint32_t>& HiddenSides::inFront(const std::uint32_t* sides, std::size_t count)
{
    // A second thread takes the second half; the halves are joined in
    // order, so the list is the same either way.
    const std::size_t half = count / 4 * 2;
    // The bounds cost a few passes over the frame's pixels: worth it only
    // with more sides than pixels.
    const bool fromDepths = count / 2 >= depth.size();
    if (fromDepths)
        boundDepths();
    showsAlone.resize(points.size());
    if (count < kSidesForTwoThreads || std::thread::hardware_concurrency() < 2) {
        boundPoints(0, points.size(), fromDepths);
        keepInFront(sides, count, kept);
        return kept;
    }
    const std::size_t halfPoints = points.size() / 2;
    std::thread second([&] { boundPoints(halfPoints, points.size(), fromDepths); });
    boundPoints(0, halfPoints, fromDepths);
    second.join();
    second = std::thread([&] { keepInFront(sides + half, count - half, keptSecond); });
    keepInFront(sides, half, kept);
    second.join();
    kept.insert(kept.end(), keptSecond.begin(), keptSecond.end());
    return kept;
}

std::size_t HiddenSides::bytes() const
{
    return points.capacity() * sizeof(WindowPoint) + showsAlone.capacity() +
           (depth.capacity() + deepest2.capacity() + deepest5.capacity()) * sizeof(float) +
           (kept.capacity() + keptSecond.capacity()) * sizeof(std::uint32_t);
}
