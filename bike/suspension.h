// Suspension: the fork and shock force laws (springs, the fork's air spring,
// speed-sensitive damping, the rising-rate linkage and the top-out fade-in),
// handed each tick to the fork slider's and the swingarm hinge's motors.
#pragma once

struct Bike;

// Damping force for a suspension speed (negative while compressing) with the
// given linear and low-speed (slow) terms.
double damping_force(double speed, double compression, double slow_compression, double rebound,
                     double slow_rebound);

// Air spring of the fork: air column length L = travel + air length.
double fork_air_spring(double compression, double travel, double air_length);

// Fork force along the slider (positive extends) at position p (0 extended,
// negative compressed) and rate v.
struct ForkParameters {
  double spring, preload, air_length, travel;
  double compression, slow_compression, rebound, slow_rebound;
};
double fork_force(const ForkParameters& f, double position, double rate);

// Linkage curve at swingarm travel fraction u: shock compression y (ft) and
// motion ratio r (ft of shock per unit of u).
struct LinkagePoint {
  double compression;
  double ratio;
};
struct LinkageParameters {
  double knee, end1, end2, slope0, slope1, slope2;
};
LinkagePoint linkage_curve(const LinkageParameters& l, double u);

// Shock torque about the swingarm hinge (positive extends) at swingarm angle a
// (0 extended, negative compressed) and rate w.
struct ShockParameters {
  double spring, preload, travel;  // travel in radians
  double compression, slow_compression, rebound, slow_rebound;
  LinkageParameters linkage;
};
double shock_torque(const ShockParameters& s, double angle, double rate);

ForkParameters fork_parameters(const Bike& bike);
ShockParameters shock_parameters(const Bike& bike);

// Reads both suspensions and sets their joint motors for the next step.
void apply_suspension(Bike* bike);

// Read-outs for the menus and the HUD.
double fork_spring_kg_per_mm(double spring);   // per leg
double shock_spring_kg_per_mm(double spring);
// Share of the low-speed term in the damping at speed s, from the model's bases.
double low_speed_share(double slow_base, double linear_base, double speed);
