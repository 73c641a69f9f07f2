// Control aids: how the rider's steering input becomes a bar angle (a lean
// request held by a steering servo, blended with direct steering, within a
// lock that narrows with speed), the balance aids on the frame's roll
// (leveling, roll damping, the roll limit, extra damping when slow and after
// landing), dabbing a foot when slow, picking the bike up after a fall, the
// arcade extras and backing up.
//
// The aids act through the steering hinge's motor and through temporary
// angular motors between the frame and the world made in the contact group
// each tick, so their damping is implicit in the world step and stays stable
// however strong the settings are.
#pragma once

#include <cstdint>

struct Bike;
struct BikeTuning;
struct Terrain;

// Scale of each setting point in physical units.
constexpr double STEERING_STRENGTH_UNIT = 20;  // lbf ft per rad of bar error
constexpr double STEERING_DAMPING_UNIT = 1;    // lbf ft per rad/s of bar rate
constexpr double LEVELING_UNIT = 12;           // lbf ft per rad of roll error
constexpr double ROLL_DAMPING_UNIT = 1;        // lbf ft per rad/s of roll rate
constexpr double ROLL_LIMIT_UNIT = 100;        // lbf ft per rad past the limit, per factor point
// Below this speed the bike counts as stopped for "Dab When Stopped".
constexpr double DAB_STOP_SPEED = 3.0;

// Allowed bar angle (rad) at the speed: full lock below the full lock speed,
// the restricted lock above the restricted lock speed, linear between.
double lock_angle(const BikeTuning& tuning, double speed);

// Damping multiplier from the slow-speed and landing damping settings.
double damping_multiplier(const BikeTuning& tuning, double speed, double since_landing);

// Bar angle (steering joint angle, positive left) the aids ask for.
double steering_target(const Bike& bike, double speed, double lean, double roll_rate);

// Whether the rider puts a foot down this tick.
bool wants_dab(const Bike& bike, double speed);

// All aids for one tick (after the rider model, before the next step).
void update_aids(Bike* bike, const Terrain& terrain, int64_t tick);
