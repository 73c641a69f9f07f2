// Geometry of the tyre: the deepest penetration of a torus into a terrain
// triangle, and of a sphere into a triangle (the part shapes).
#pragma once

#include "bike/bike_math.h"

struct TriangleContact {
  double depth;  // > 0 when penetrating
  DVec point;    // on the triangle
  DVec normal;   // unit, from the triangle towards the solid that touches it
};

// Torus: centre c, unit axle axis a, major radius R (ring), minor radius r
// (tyre section). The triangle is a piece of ground that is solid below it:
// its face normal is taken pointing upwards (y >= 0).
//
// The torus is the set of points within r of its core circle, so its
// penetration into the triangle is r minus the least "clearance" of the core
// circle, where the clearance of a circle point is its height above the
// triangle's plane while it lies over the triangle, and its distance to the
// triangle's boundary otherwise. The least clearance is found exactly for the
// face (the circle's lowest point along -n) and where the circle crosses the
// walls over the triangle's edges (both closed form), and by a bracketed
// search along each edge for the distance from the edge to the circle.
// When the ring passes through the plane over the triangle the depth is the
// distance the torus must rise along the normal until its tube is clear of
// the triangle. Returns false when nothing penetrates; otherwise fills the contact: for a
// face or wall minimum the normal is the face normal, for an edge or vertex
// minimum it points from the edge point to the nearest point of the core
// circle.
// With beat > 0 the test gives up early (returns false) as soon as it is
// clear the depth cannot exceed beat: a contact search keeping the deepest
// contact passes the best depth found so far.
bool torus_triangle_contact(DVec c, DVec a, double R, double r, const DVec tri[3], TriangleContact* out,
                            double beat = 0);

// The same torus prepared once for many triangles (a wheel against the
// cells under it): the unit axle and two unit vectors across it. The
// answers are the same as the call above gives.
struct PreparedTorus {
  DVec c, a, u, v;
  double R, r;
};
PreparedTorus make_torus(DVec c, DVec a, double R, double r);
bool torus_triangle_contact(const PreparedTorus& torus, const DVec tri[3], TriangleContact* out, double beat = 0);

// Sphere of centre c and radius r against the same kind of triangle: depth
// r minus the signed height over the face, or r minus the distance to the
// boundary when the centre is not over the triangle.
bool sphere_triangle_contact(DVec c, double r, const DVec tri[3], TriangleContact* out);

// Closest point of a triangle to p (any triangle, both sides).
DVec closest_point_on_triangle(DVec p, const DVec tri[3]);
// Distance from p to a circle (centre c, unit axis a, radius R), and the
// circle point nearest to p.
double point_circle_distance(DVec p, DVec c, DVec a, double R, DVec* nearest);
