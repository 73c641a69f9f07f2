// Tyres and ground contact: the wheel's contact search over the terrain's
// triangles, the soft contact joint whose stiffness grows with penetration,
// friction from the tile under the contact and rolling resistance.
#pragma once

#include "bike/bike_math.h"
#include "bike/torus_contact.h"

struct Bike;
struct Terrain;
struct Tile;

// Deepest penetration of the torus into the terrain cells under the square
// centre.xz +- (R + r). Returns false (depth 0) when nothing touches. The
// normal is cleaned up so it never points downwards.
bool find_wheel_contact(const Terrain& terrain, DVec centre, DVec axle, double R, double r, TriangleContact* out);

// Friction coefficient for a contact sliding at the given speed on the tile,
// with the arcade grip factor applied when arcade is on.
double contact_friction(const Tile& tile, double sliding_speed, bool arcade, double lean);

// Contact spring and damper for the penetration fraction g = min(d/r, 1),
// turned into the error reduction and mixing of one tick.
struct SoftContact {
  double erp, cfm;
};
SoftContact wheel_contact_softness(double depth_fraction);
// The soft form used by every other contact: 2500 lbf/ft, 250 lbf s/ft.
SoftContact soft_contact(double spring, double damper);

// Friction direction for a contact: n x v, or n x axle when that is too short.
DVec friction_direction(DVec normal, DVec sliding_velocity, DVec axle);

// One wheel's whole ground contact for the next step: search, record,
// contact joint and rolling resistance.
void make_wheel_contact(Bike* bike, int wheel, const Terrain& terrain);
