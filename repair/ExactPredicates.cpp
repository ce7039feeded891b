#include "repair/ExactPredicates.h"

#include <cmath>
#include <vector>

namespace {

// Nonoverlapping expansions: a number as a sum of doubles, smallest first,
// kept exact by error-free sums and products.
using Expansion = std::vector<double>;

constexpr double kEpsilon = 1.1102230246251565e-16;  // half an ulp of 1
constexpr double kSplitter = 134217729.0;            // 2^27 + 1
constexpr double kOrient3dBound = (7.0 + 56.0 * kEpsilon) * kEpsilon;
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

// e + b, with zero components dropped.
Expansion grow(const Expansion& e, double b)
{
    Expansion h;
    h.reserve(e.size() + 1);
    double q = b;
    for (double component : e) {
        double sum, error;
        twoSum(q, component, sum, error);
        q = sum;
        if (error != 0.0)
            h.push_back(error);
    }
    if (q != 0.0 || h.empty())
        h.push_back(q);
    return h;
}

Expansion add(const Expansion& e, const Expansion& f)
{
    Expansion h = e;
    for (double component : f)
        h = grow(h, component);
    return h;
}

Expansion negate(Expansion e)
{
    for (double& component : e)
        component = -component;
    return e;
}

Expansion scale(const Expansion& e, double b)
{
    Expansion h;
    for (double component : e) {
        double product, error;
        twoProduct(component, b, product, error);
        h = add(h, Expansion{error, product});
    }
    if (h.empty())
        h.push_back(0.0);
    return h;
}

Expansion multiply(const Expansion& e, const Expansion& f)
{
    Expansion h{0.0};
    for (double component : f)
        h = add(h, scale(e, component));
    return h;
}

Expansion difference(double a, double b)
{
    double sum, error;
    twoSum(a, -b, sum, error);
    return Expansion{error, sum};
}

int signOf(const Expansion& e)
{
    for (auto it = e.rbegin(); it != e.rend(); ++it)
        if (*it != 0.0)
            return *it > 0.0 ? 1 : -1;
    return 0;
}

// ux * vy - uy * vx over exact expansions.
Expansion cross2(const Expansion& ux, const Expansion& uy, const Expansion& vx, const Expansion& vy)
{
    return add(multiply(ux, vy), negate(multiply(uy, vx)));
}

int orient3dExact(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d)
{
    const Expansion adx = difference(a.x, d.x), ady = difference(a.y, d.y), adz = difference(a.z, d.z);
    const Expansion bdx = difference(b.x, d.x), bdy = difference(b.y, d.y), bdz = difference(b.z, d.z);
    const Expansion cdx = difference(c.x, d.x), cdy = difference(c.y, d.y), cdz = difference(c.z, d.z);
    const Expansion det = add(add(multiply(adz, cross2(bdx, bdy, cdx, cdy)), multiply(bdz, cross2(cdx, cdy, adx, ady))),
                              multiply(cdz, cross2(adx, ady, bdx, bdy)));
    return signOf(det);
}

double coordinate(const CGVertex& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

}  // namespace

int orient3d(const CGVertex& a, const CGVertex& b, const CGVertex& c, const CGVertex& d)
{
    const double adx = a.x - d.x, bdx = b.x - d.x, cdx = c.x - d.x;
    const double ady = a.y - d.y, bdy = b.y - d.y, cdy = c.y - d.y;
    const double adz = a.z - d.z, bdz = b.z - d.z, cdz = c.z - d.z;
    const double bdxcdy = bdx * cdy, cdxbdy = cdx * bdy;
    const double cdxady = cdx * ady, adxcdy = adx * cdy;
    const double adxbdy = adx * bdy, bdxady = bdx * ady;
    const double det = adz * (bdxcdy - cdxbdy) + bdz * (cdxady - adxcdy) + cdz * (adxbdy - bdxady);
    const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * std::fabs(adz) +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * std::fabs(bdz) +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * std::fabs(cdz);
    const double bound = kOrient3dBound * permanent;
    // The exact sign's convention: positive when d is below the plane.
    if (det > bound)
        return 1;
    if (-det > bound)
        return -1;
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
