// Engine and drivetrain: the throttle-blended torque curve, the automatic
// clutch, the torsional spring-damper from crank to rear wheel with its
// clutch wind-up limit, the gearbox with automatic and manual shifting and
// neutral, the brakes with antilock, the wheelie cut and the stoppie guard.
#pragma once

#include <cstdint>

struct Bike;
struct BikeModel;

// Engine torque at the crank (lbf ft) for the rpm and throttle, from the
// model's closed- and full-throttle tables.
double engine_torque(const BikeModel& model, double rpm, double throttle);

// Clutch engagement from the rider's clutch input and the engine speed.
double clutch_engagement(double rpm, double clutch_input, double auto_clutch_rpms);

// Overall reduction G: crank turns per rear wheel turn in gear g.
double overall_reduction(const Bike& bike, int gear);

// One tick of the drivetrain state, separated from the rigid bodies so the
// law can be checked by hand: inputs are the rear axle hinge angle and rate;
// outputs the wheel torque Tw (the rear wheel gets -Tw about its X axis, the
// frame +Tw) and the updated engine speed and drivetrain angle.
struct DrivetrainStep {
  double engine_speed;      // we, rad/s
  double drivetrain_angle;  // q, rad
  double wheel_torque;      // Tw
  double engagement;        // c used this tick
};
DrivetrainStep drivetrain_step(double engine_speed, double drivetrain_angle, double engine_torque_crank,
                               double clutch_input, double auto_clutch_rpms, double reduction, double stiffness,
                               double damping, double inertia, double axle_angle, double axle_rate);

// Automatic shifting: the gear after a check at implied engine speed r, with
// the model's low and high marks, skipping missing gears.
int automatic_gear(const BikeModel& model, int gear, double implied_rpm);

// Manual shifting on the rising edge of the shift control. Below walking
// speed with automatic shifting off, down from first selects neutral and up
// from neutral selects first.
void manual_shift(Bike* bike, int shift, double speed);

// Brake torque limits for this tick (lbf ft), with antilock and the
// stoppie guard.
struct BrakeLimits {
  double front, rear;
};
BrakeLimits brake_limits(const Bike& bike);

// Whether the wheelie cut takes the engine's drive away this tick.
bool wheelie_cut_active(const Bike& bike);

// The whole drivetrain of one tick: engine, clutch, spring, shifting, brakes.
void update_drivetrain(Bike* bike, int64_t tick);
