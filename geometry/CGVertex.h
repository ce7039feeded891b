#pragma once

// A point and a direction in space. They are separate types so that the
// compiler keeps "position minus position gives a direction" honest.
//
// Every sum below is written out x, then y, then z, left to right: the
// engine's decisions hang on exact double results, and the same order on
// every build keeps them identical.

struct CGVector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

using Vector = CGVector;

struct CGVertex {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline CGVector operator-(const CGVertex& a, const CGVertex& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline CGVertex operator+(const CGVertex& a, const CGVector& d)
{
    return {a.x + d.x, a.y + d.y, a.z + d.z};
}

// Halfway between a and b, each coordinate as (a + b) * 0.5: the one way
// every search centres on an edge.
inline CGVertex midpoint(const CGVertex& a, const CGVertex& b)
{
    return {(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5};
}

inline CGVector operator-(const CGVector& a, const CGVector& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline CGVector operator+(const CGVector& a, const CGVector& b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

inline CGVector operator*(double k, const CGVector& v)
{
    return {k * v.x, k * v.y, k * v.z};
}

inline CGVector operator*(const CGVector& v, double k)
{
    return {v.x * k, v.y * k, v.z * k};
}

inline double dot(const CGVector& a, const CGVector& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline double squaredLength(const CGVector& v)
{
    return v.x * v.x + v.y * v.y + v.z * v.z;
}

inline bool samePosition(const CGVertex& a, const CGVertex& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
