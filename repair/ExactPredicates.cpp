#include "repair/ExactPredicates.h"

#include <cmath>

namespace {

// Nonoverlapping expansions: a number as a sum of doubles, smallest first,
// kept exact by error-free sums and products. Held on the stack: the
// largest, the 3 by 3 determinant, has at most 192 parts.
struct Expansion {
    int n = 0;
    double v[256];
};

constexpr double kEpsilon = 1.1102230246251565e-16;  // half an ulp of 1
constexpr double kSplitter = 134217729.0;            // 2^27 + 1
constexpr double kOrient2dBound = (3.0 + 16.0 * kEpsilon) * kEpsilon;

void twoSum(double a, double b, double& sum, double& error)
{
    sum = a + b;
    const double bVirtual = sum - a;
    const double aVirtual = sum - bVirtual;
    error = (a - aVirtual) + (b - bVirtual);
}

void split(double a, double& high, double& low)
{
    const double c = kSplitter * a;
    const double big = c - a;
    high = c - big;
    low = a - high;
}

void twoProduct(double a, double b, double& product, double& error)
{
    product = a * b;
    double aHigh, aLow, bHigh, bLow;
    split(a, aHigh, aLow);
    split(b, bHigh, bLow);
    const double err1 = product - aHigh * bHigh;
    const double err2 = err1 - aLow * bHigh;
    const double err3 = err2 - aHigh * bLow;
    error = aLow * bLow - err3;
}

// Copies the parts in use only: the buffers are far larger than most sums.
void assign(Expansion& to, const Expansion& from)
{
    to.n = from.n;
    for (int i = 0; i < from.n; ++i)
        to.v[i] = from.v[i];
}

// h = e + f, zero parts dropped, by growing e with each part of f.
void add(const Expansion& e, const Expansion& f, Expansion& h)
{
    Expansion grown;
    assign(grown, e);
    for (int j = 0; j < f.n; ++j) {
        double q = f.v[j];
        int m = 0;
        for (int i = 0; i < grown.n; ++i) {
            double sum, error;
            twoSum(q, grown.v[i], sum, error);
            q = sum;
            if (error != 0.0)
                grown.v[m++] = error;
        }
        if (q != 0.0)
            grown.v[m++] = q;
        grown.n = m;
    }
    assign(h, grown);
}

// h = e * b, zero parts dropped.
void scale(const Expansion& e, double b, Expansion& h)
{
    Expansion out;
    for (int i = 0; i < e.n; ++i) {
        double product, error;
        twoProduct(e.v[i], b, product, error);
        Expansion pair;
        pair.n = 0;
        if (error != 0.0)
            pair.v[pair.n++] = error;
        if (product != 0.0)
            pair.v[pair.n++] = product;
        add(out, pair, out);
    }
    assign(h, out);
}

void multiply(const Expansion& e, const Expansion& f, Expansion& h)
{
    Expansion out, part;
    for (int j = 0; j < f.n; ++j) {
        scale(e, f.v[j], part);
        add(out, part, out);
    }
    assign(h, out);
}

Expansion difference(double a, double b)
{
    double sum, error;
    twoSum(a, -b, sum, error);
    Expansion e;
    if (error != 0.0)
        e.v[e.n++] = error;
    if (sum != 0.0)
        e.v[e.n++] = sum;
    return e;
}

int signOf(const Expansion& e)
{
    for (int i = e.n - 1; i >= 0; --i)
        if (e.v[i] != 0.0)
            return e.v[i] > 0.0 ? 1 : -1;
    return 0;
}

// ux * vy - uy * vx over exact expansions.
Expansion cross2(const Expansion& ux, const Expansion& uy, const Expansion& vx, const Expansion& vy)
{
    Expansion left, right;
    multiply(ux, vy, left);
    multiply(uy, vx, right);
    for (int i = 0; i < right.n; ++i)
        right.v[i] = -right.v[i];
    add(left, right, left);
    return left;
}

int orient3dExact(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d)
{
    const Expansion adx = difference(a.x, d.x), ady = difference(a.y, d.y), adz = difference(a.z, d.z);
    const Expansion bdx = difference(b.x, d.x), bdy = difference(b.y, d.y), bdz = difference(b.z, d.z);
    const Expansion cdx = difference(c.x, d.x), cdy = difference(c.y, d.y), cdz = difference(c.z, d.z);
    Expansion det, term;
    multiply(adz, cross2(bdx, bdy, cdx, cdy), det);
    multiply(bdz, cross2(cdx, cdy, adx, ady), term);
    add(det, term, det);
    multiply(cdz, cross2(adx, ady, bdx, bdy), term);
    add(det, term, det);
    return signOf(det);
}

double coordinate(const CGVertex& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

}  // namespace

int orient3dSlow(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d)
{
    // Four points on one plane of constant x, y or z (a scanned box's
    // sides): a column of exact zeros, so the determinant is zero.
    if ((a.x - d.x == 0.0 && b.x - d.x == 0.0 && c.x - d.x == 0.0) ||
        (a.y - d.y == 0.0 && b.y - d.y == 0.0 && c.y - d.y == 0.0) ||
        (a.z - d.z == 0.0 && b.z - d.z == 0.0 && c.z - d.z == 0.0))
        return 0;
    return orient3dExact(a, b, c, d);
}

int orient2d(const CGVertex& a, const CGVertex& b, const CGVertex& c, int drop)
{
    const int u = drop == 0 ? 1 : 0, v = drop == 2 ? 1 : 2;
    const double ax = coordinate(a, u), ay = coordinate(a, v);
    const double bx = coordinate(b, u), by = coordinate(b, v);
    const double cx = coordinate(c, u), cy = coordinate(c, v);
    const double left = (ax - cx) * (by - cy), right = (ay - cy) * (bx - cx);
    const double det = left - right;
    const double bound = kOrient2dBound * (std::fabs(left) + std::fabs(right));
    if (det > bound)
        return 1;
    if (-det > bound)
        return -1;
    const Expansion exact = cross2(difference(ax, cx), difference(ay, cy), difference(bx, cx), difference(by, cy));
    return signOf(exact);
}
