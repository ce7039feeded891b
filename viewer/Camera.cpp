#include "viewer/Camera.h"

#include <cmath>
#include <cstddef>

namespace {

using Floats = std::array<float, 16>;

constexpr double kPi = 3.14159265358979323846;

// product = a * b, each entry summed left to right in float, as GL's own
// matrix multiply does it.
Floats multiply(const Floats& a, const Floats& b)
{
    Floats product{};
    for (std::size_t row = 0; row < 4; ++row)
        for (std::size_t column = 0; column < 4; ++column) {
            const std::size_t at = column * 4;
            product[at + row] =
                a[row] * b[at] + a[4 + row] * b[at + 1] + a[8 + row] * b[at + 2] + a[12 + row] * b[at + 3];
        }
    return product;
}

// A turn by degrees about one axis (0, 1, 2): the radians worked out in
// double, then sine and cosine taken in float, as GL takes them.
Floats rotation(float degrees, int axis)
{
    const auto radians = static_cast<float>(static_cast<double>(degrees) * kPi / 180.0);
    const float s = std::sin(radians);
    const float c = std::cos(radians);
    Floats m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const int u = (axis + 1) % 3;
    const int v = (axis + 2) % 3;
    m[u * 4 + u] = c;
    m[v * 4 + v] = c;
    m[u * 4 + v] = s;
    m[v * 4 + u] = -s;
    return m;
}

}  // namespace

Matrix4 Camera::modelView() const
{
    Floats m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    m[12] = static_cast<float>(translation.x);
    m[13] = static_cast<float>(translation.y);
    m[14] = static_cast<float>(translation.z);
    if (holding) {
        Floats turn{};
        for (int i = 0; i < 16; ++i)
            turn[i] = static_cast<float>(held[i]);
        m = multiply(m, turn);
    }
    const auto degrees = static_cast<float>(angle);
    for (int axis = 0; axis < 3; ++axis)
        m = multiply(m, rotation(degrees, axis));
    Matrix4 result{};
    for (int i = 0; i < 16; ++i)
        result[i] = m[i];
    return result;
}

CGVertex transformed(const Matrix4& m, const CGVertex& p)
{
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}
