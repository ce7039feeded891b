#pragma once

#include "geometry/CGVertex.h"
#include "viewer/Camera.h"

#include <vector>

// The projection every frame is drawn with.
constexpr double kFieldOfView = 45.0;  // vertical, degrees
constexpr double kNearPlane = 0.1;
constexpr double kFarPlane = 1000.0;

// The radius a fitted model's bounding sphere is scaled to, in view units.
// From the default distance of 125 it spans about 80% of the frame height.
constexpr double kFitRadius = 40.0;

// Where the model's points land in view space: (position - centre) * scale,
// worked out in double before GL sees it, so a small model far from the
// origin reaches GL's floats small and near the origin.
struct Framing {
    CGVertex centre;
    double scale = 1.0;
    double pointRadius = 0.75;  // of the sphere drawn for each point, in view units

    CGVertex place(const CGVertex& p) const
    {
        return {(p.x - centre.x) * scale, (p.y - centre.y) * scale, (p.z - centre.z) * scale};
    }
};

// Centres the positions' bounding box on the origin and scales their bounding
// sphere about that centre to kFitRadius; each point's sphere gets a third of
// the median distance from a point to its nearest distinct neighbour (over a
// fixed sample, so the same file always gives the same radius). Positions
// must be finite. No points, or all in one place, give scale 1.
Framing fitFraming(const std::vector<CGVertex>& positions);

// The angle of the frame after one at angle: one step of the turning, kept
// within one turn.
double nextAngle(double angle);

// How many pixels across (the larger of the two sides) the box of the placed
// points covers in a width by height frame, counting only points that land
// inside the frame between the near and the far plane, seen through camera
// as a frame sees them. 0 when no point lands inside.
double pixelsShown(const std::vector<CGVertex>& positions, const Framing& framing, const Camera& camera, int width,
                   int height);
