// Bike setup: the rider's setup values as plain numbers and choice indices,
// the stability presets that fill the aid values, and their application to
// a bike (the derived values the simulation uses), with the out-of-range flag
// and the refusal while the bike is moving.
#pragma once

struct Bike;

// Every numeric and choice key of the bike setup block, with the stock
// defaults (the values at stability 100). Choices are indices into their
// value lists: arcade, auto_shift, auto_dab, auto_align, sticky_dab,
// reverse_steering, lean_indicator: 0 "No", 1 "Yes"; front_brake,
// rear_brake: 0 "Normal", 1 "Antilock"; stop_wheelies: 0 "No", 1 "Yes",
// 2 "Front Only".
struct BikeSetup {
  double stability = 100;
  double leveling = 20;
  double roll_damping = 80;
  double roll_limit_angle = 35;  // degrees
  double roll_limit_factor = 32;
  double steering_damping = 45;
  double steering_strength = 75;
  double max_steering_force = 400;
  double direct_steering = 0;
  double slow_damping_speed = 40;
  double slow_damping_factor = 2;
  double land_damping_falloff = 0.25;
  double land_damping_factor = 2;
  double full_lock_speed = 10;
  double restricted_lock_speed = 50;
  double restricted_lock = 5;  // degrees
  int arcade = 1;
  int front_brake = 1;
  int rear_brake = 0;
  int stop_wheelies = 0;
  int auto_shift = 1;
  int auto_dab = 1;
  int auto_align = 1;
  int sticky_dab = 0;
  int reverse_steering = 1;
  int lean_indicator = 1;
  double auto_clutch_rpms = 5000;
  double brake_torque = 250;
  double rear_brake_torque = 250;
  double max_dab_speed = 20;  // miles per hour
  double front_sprocket_adjustment = 0;
  double rear_sprocket_adjustment = 0;
  double fork_compression_adjustment = 50;
  double fork_slow_compression_adjustment = 50;
  double fork_rebound_adjustment = 50;
  double fork_slow_rebound_adjustment = 50;
  double fork_spring_rate_adjustment = 50;
  double fork_preload_adjustment = 50;
  double fork_oil_level_adjustment = 50;
  double shock_compression_adjustment = 50;
  double shock_slow_compression_adjustment = 50;
  double shock_rebound_adjustment = 50;
  double shock_slow_rebound_adjustment = 50;
  double shock_spring_rate_adjustment = 50;
  double shock_preload_adjustment = 50;
  double rider_yspring = 50;
  double rider_ydamping = 50;
  double rider_zspring = 50;
  double rider_zdamping = 50;
  double rider_mass_distribution = 0.33;
};

// Recomputes the aid values of the setup from its stability (0..100) by
// interpolating the preset rows.
void apply_stability(BikeSetup* setup, double stability);

// Raised (never cleared) when an applied value lies clearly outside its band.
extern bool g_setup_out_of_range;
// Set while the server has switched arcade physics off for this connection;
// arcade mode is then forced off whatever the setup says.
extern bool g_arcade_disabled;
// Game-clock time of the last refusal; starts 20 s before the clock's zero.
extern double g_last_setup_refusal;

// The values a freshly created bike starts with, before any setup is read.
void set_default_tuning(Bike* bike);

// Applies the setup to the bike. Refused (nothing applied, false returned)
// while the frame moves faster than 0.125 ft/s; a refusal within 10 s of the
// previous one tells the rider so. `now` is the game clock in seconds.
bool apply_setup(Bike* bike, const BikeSetup& setup, double now);

// Sets a setup value by its configuration key ("leveling", "auto_shift",
// ...); choices take their index. False for an unknown key.
bool set_setup_value(BikeSetup* setup, const char* key, double value);

// The individual derivations, exposed for the menus and for tests.
double final_drive_ratio(double stock_countershaft, double stock_rear, double front_adjustment,
                         double rear_adjustment);
double damping_scale(double adjustment);  // 2^(c*0.04-2) in 0.25..4
double slow_offset(double adjustment);    // c*0.02-1 in -1..1
double range_fraction(double adjustment); // c*0.01 in 0..1
