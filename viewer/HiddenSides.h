#pragma once

#include "viewer/Camera.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Finds the sides that cannot show over what a frame already holds. Sides
// are drawn last, in one colour, with the depth test GL_LESS: a side lights
// a pixel only where one of its fragments lies nearer than the depth there,
// and which side lit it makes no difference. So a side whose every fragment
// lies at or behind the depth the frame holds before the sides are drawn
// draws nothing, and leaving it out changes no pixel. On a large surface
// that is most of them (the far half and everything the near half hides),
// and each costs a software renderer as much to set up as to draw.
//
// The test is kept on the safe side everywhere: where a fragment might be
// (its place and its depth) is bounded with room to spare for how GL
// rounds, and a side whose ends do not both lie between the near and the
// far plane is always kept.
class HiddenSides {
public:
    // Projects count points (x, y, z floats each) into the window as GL
    // does: clip from model, then the viewport (x, y, width, height).
    void project(const float* positions, std::size_t count, const Matrix4& clipFromModel, const int viewport[4]);

    // Where the depth the frame holds goes: width * height values, as GL's
    // depth buffer reads, bottom row first, for the pixels from the window's
    // corner. Pixels beyond them get no fragments.
    std::vector<float>& depthOf(int width, int height);

    // The sides (pairs of point places, count places in all) that may still
    // light a pixel, in the order given; a side naming a point not
    // projected is kept. Needs project and the depth first.
    const std::vector<std::uint32_t>& inFront(const std::uint32_t* sides, std::size_t count);

    // The working memory held, in bytes.
    std::size_t bytes() const;

private:
    struct WindowPoint {
        float x;
        float y;
        float z;  // GL's depth; NaN where the point lies off the near or far side
        // At least the deepest pixel of the box of any side from here no
        // more than kShortSide across and up; +inf where those pixels are
        // not all in the frame, or where the frame has no bounds worked out.
        float far;
    };
    bool hidden(const WindowPoint& a, const WindowPoint& b) const;
    void keepInFront(const std::uint32_t* sides, std::size_t count, std::vector<std::uint32_t>& into) const;
    void boundDepths();
    void boundPoints(std::size_t first, std::size_t last, bool fromDepths);

    std::vector<WindowPoint> points;
    // 1 where the point lies nearer than a pixel every box of a side from
    // it holds: every such side may show.
    std::vector<std::uint8_t> showsAlone;
    std::vector<float> depth;
    std::vector<float> deepest2;  // per pixel, the deepest of the 2 by 2 pixels from it up and right
    std::vector<float> deepest5;  // the same over 5 by 5
    int depthWidth = 0;
    int depthHeight = 0;
    std::vector<std::uint32_t> kept;
    std::vector<std::uint32_t> keptSecond;  // what a second thread keeps
};

// a * b, column-major both.
Matrix4 multiplied(const Matrix4& a, const Matrix4& b);
