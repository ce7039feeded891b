#include "viewer/Framing.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

constexpr double kAngleStep = -0.2;  // degrees per drawn frame
constexpr double kPi = 3.14159265358979323846;

// Enough for a steady median; a few milliseconds even on a million points.
constexpr std::size_t kSpacingSamples = 10000;
// Neighbours asked for, so that a few exact duplicates do not hide the
// nearest distinct point.
constexpr std::size_t kNeighbours = 8;

// The placed points, as nanoflann reads a data set.
struct PlacedCloud {
    const std::vector<CGVertex>& positions;
    const Framing& framing;

    std::size_t kdtree_get_point_count() const { return positions.size(); }

    double kdtree_get_pt(std::size_t index, std::size_t axis) const
    {
        const CGVertex p = framing.place(positions[index]);
        return axis == 0 ? p.x : (axis == 1 ? p.y : p.z);
    }

    template <class Box>
    bool kdtree_get_bbox(Box&) const
    {
        return false;
    }
};

using SpacingTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, PlacedCloud>, PlacedCloud, 3>;

// The median distance from a sampled point to its nearest distinct
// neighbour, in placed units; 0 when no sampled point has one.
double medianSpacing(const std::vector<CGVertex>& positions, const Framing& framing)
{
    const PlacedCloud cloud{positions, framing};
    const SpacingTree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    const std::size_t stride = std::max<std::size_t>(1, positions.size() / kSpacingSamples);
    std::vector<double> spacings;
    std::uint32_t found[kNeighbours];
    double squared[kNeighbours];
    for (std::size_t i = 0; i < positions.size(); i += stride) {
        const CGVertex p = framing.place(positions[i]);
        const double query[3] = {p.x, p.y, p.z};
        const std::size_t count = tree.knnSearch(query, kNeighbours, found, squared);
        for (std::size_t k = 0; k < count; ++k)
            if (squared[k] > 0.0) {
                spacings.push_back(std::sqrt(squared[k]));
                break;
            }
    }
    if (spacings.empty())
        return 0.0;
    const auto middle = spacings.begin() + static_cast<std::ptrdiff_t>(spacings.size() / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    return *middle;
}

}  // namespace

Framing fitFraming(const std::vector<CGVertex>& positions)
{
    Framing framing;
    framing.pointRadius = kFitRadius / 100.0;
    if (positions.empty())
        return framing;

    CGVertex low = positions.front();
    CGVertex high = positions.front();
    for (const CGVertex& p : positions) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    // Halved first, so that a box from -1e308 to 1e308 has a centre too.
    framing.centre = {low.x * 0.5 + high.x * 0.5, low.y * 0.5 + high.y * 0.5, low.z * 0.5 + high.z * 0.5};

    // hypot, as the squares of far-apart coordinates would overflow.
    double radius = 0.0;
    for (const CGVertex& p : positions) {
        const CGVector d = p - framing.centre;
        radius = std::max(radius, std::hypot(d.x, d.y, d.z));
    }
    const double scale = kFitRadius / radius;
    if (radius > 0.0 && std::isfinite(scale))
        framing.scale = scale;

    // Sparse models would otherwise be drawn as a few large balls.
    const double spacing = medianSpacing(positions, framing);
    if (spacing > 0.0)
        framing.pointRadius = std::min(spacing / 3.0, kFitRadius / 10.0);
    return framing;
}

double nextAngle(double angle)
{
    // Wrapped so the angle never grows past what a float can step by 0.2:
    // unbounded, the turning would stutter and stop after hours of frames.
    return std::fmod(angle + kAngleStep, 360.0);
}

double pixelsShown(const std::vector<CGVertex>& positions, const Framing& framing, const Camera& camera, int width,
                   int height)
{
    const Matrix4 view = camera.modelView();
    const double focal = 1.0 / std::tan(kFieldOfView * kPi / 360.0);
    const double aspect = static_cast<double>(width) / static_cast<double>(height);

    bool any = false;
    double left = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    double top = 0.0;
    for (const CGVertex& position : positions) {
        const CGVertex seen = transformed(view, framing.place(position));
        const double x = seen.x;
        const double y = seen.y;
        const double depth = -seen.z;
        if (!(depth >= kNearPlane && depth <= kFarPlane))
            continue;
        const double u = focal / aspect * x / depth;
        const double v = focal * y / depth;
        if (!(std::abs(u) <= 1.0 && std::abs(v) <= 1.0))
            continue;
        if (!any) {
            left = right = u;
            bottom = top = v;
            any = true;
        }
        left = std::min(left, u);
        right = std::max(right, u);
        bottom = std::min(bottom, v);
        top = std::max(top, v);
    }
    if (!any)
        return 0.0;
    return std::max((right - left) * 0.5 * width, (top - bottom) * 0.5 * height);
}
