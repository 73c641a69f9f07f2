// The rider: the soft links that hold the rider body over the frame, the
// crash tests, the crash sequence with its timer, the pull back to the bike,
// re-attachment, and the rider's feet.
#pragma once

#include <cstdint>

#include "bike/bike_math.h"

struct Bike;
struct Terrain;

// Rider offset against its build place on the frame, in frame axes, measured
// from where the rider is to where it was built: positive fore_aft is towards
// the front, positive vertical is downwards.
struct RiderOffset {
  double fore_aft;
  double vertical;
};
RiderOffset rider_offset(const Bike& bike);

// Link laws, exposed for tests. Stiffness and damping before the rider mass
// scale.
struct RiderLink {
  double stiffness, damping;
  double error;  // signed: the link pushes the rider to reduce it
};
RiderLink fore_aft_link(double fore_aft, double vertical, double sit, double lean, double zspring);
RiderLink vertical_link(double vertical, double sit, double yspring, double ydamping);
double rider_mass_scale(double rider_mass);  // rider mass x 0.21333...

// Longest the crash timer holds for a rider still moving (ticks): past it
// the timer counts down however the rider slides.
constexpr int CRASH_HOLD_LIMIT = 5 * 128;

// Tolerance of the crash tests after a jump: air time and time since landing.
double crash_tolerance(double air_time, double since_landing);

// Applies the two soft links for the next step and sets the mount's
// fore-aft compliance.
void make_rider_links(Bike* bike);

// Take-off and landing bookkeeping from this tick's wheel contacts.
void track_flight(Bike* bike, int64_t tick);

// Runs the crash tests (riding) or the crash sequence (crashed) for this tick.
// Returns true when a crash started this tick.
bool update_rider(Bike* bike, const Terrain& terrain, int64_t tick);

// Starts a crash now (the tests call it; tests and tools may too).
void start_crash(Bike* bike);

// Feet: riding pose, dab pose, or the crashed feet's own motion.
void update_feet(Bike* bike, const Terrain& terrain);
