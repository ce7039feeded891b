#pragma once

#include "geometry/CGVertex.h"

#include <array>

// The distance the eye starts from, before zoom is added.
constexpr double kBaseDistance = 100.0;

// Column-major, as GL takes a matrix.
using Matrix4 = std::array<double, 16>;

// Where the model is seen from: turned by angle about z, then y, then x,
// then by what the mouse has turned, then shifted by translation. The one
// place that says so: GL draws with modelView() and the arithmetic that
// predicts what a frame shows uses the same matrix.
struct Camera {
    CGVector translation{0.0, 0.0, -kBaseDistance};
    double angle = 0.0;  // degrees about x, y and z; kept within one turn
    bool holding = false;
    Matrix4 held{};  // the turn the mouse has given, a rotation; unused unless holding

    // The model-view matrix. Worked out in single precision in the order
    // GL 1.1's translate, multiply and rotate calls take, so that a frame
    // drawn with it is the one those calls drew, to the pixel.
    Matrix4 modelView() const;
};

// m applied to the point p (w = 1).
CGVertex transformed(const Matrix4& m, const CGVertex& p);
