// Stability presets and the derivation of a bike's tuning from its setup.
#include "bike/bike_setup.h"

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "core/message.h"

bool g_setup_out_of_range = false;
double g_last_setup_refusal = -20.0;
bool g_arcade_disabled = false;

namespace {

constexpr double DEGREES = 0.017453292519943295;
constexpr double MPH = 1.4666666666666666;

// Preset rows, columns at stability 0, 20, 40, 60, 80, 100.
struct PresetRow {
  double BikeSetup::*key;
  double value[6];
};
const PresetRow PRESETS[] = {
    {&BikeSetup::leveling, {20, 20, 20, 20, 20, 20}},
    {&BikeSetup::roll_damping, {40, 50, 60, 70, 75, 80}},
    {&BikeSetup::roll_limit_angle, {90, 45, 45, 40, 35, 35}},
    {&BikeSetup::roll_limit_factor, {0, 5, 10, 32, 32, 32}},
    {&BikeSetup::steering_damping, {45, 45, 45, 45, 45, 45}},
    {&BikeSetup::steering_strength, {75, 75, 75, 75, 75, 75}},
    {&BikeSetup::direct_steering, {1, 1, 1, 1, 1, 0}},
    {&BikeSetup::max_steering_force, {400, 400, 400, 400, 400, 400}},
    {&BikeSetup::slow_damping_speed, {40, 40, 40, 40, 40, 40}},
    {&BikeSetup::slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
    {&BikeSetup::land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {&BikeSetup::land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
    {&BikeSetup::full_lock_speed, {10, 10, 10, 10, 10, 10}},
    {&BikeSetup::restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
    {&BikeSetup::restricted_lock, {45, 15, 10, 5, 5, 5}},
};

void flag_outside(double value, double lo, double hi) {
  if (!(value >= lo && value <= hi)) g_setup_out_of_range = true;
}

struct NumberKey {
  const char* key;
  double BikeSetup::*value;
};
const NumberKey NUMBER_KEYS[] = {
    {"stability", &BikeSetup::stability},
    {"leveling", &BikeSetup::leveling},
    {"roll_damping", &BikeSetup::roll_damping},
    {"roll_limit_angle", &BikeSetup::roll_limit_angle},
    {"roll_limit_factor", &BikeSetup::roll_limit_factor},
    {"steering_damping", &BikeSetup::steering_damping},
    {"steering_strength", &BikeSetup::steering_strength},
    {"max_steering_force", &BikeSetup::max_steering_force},
    {"direct_steering", &BikeSetup::direct_steering},
    {"slow_damping_speed", &BikeSetup::slow_damping_speed},
    {"slow_damping_factor", &BikeSetup::slow_damping_factor},
    {"land_damping_falloff", &BikeSetup::land_damping_falloff},
    {"land_damping_factor", &BikeSetup::land_damping_factor},
    {"full_lock_speed", &BikeSetup::full_lock_speed},
    {"restricted_lock_speed", &BikeSetup::restricted_lock_speed},
    {"restricted_lock", &BikeSetup::restricted_lock},
    {"auto_clutch_rpms", &BikeSetup::auto_clutch_rpms},
    {"brake_torque", &BikeSetup::brake_torque},
    {"rear_brake_torque", &BikeSetup::rear_brake_torque},
    {"max_dab_speed", &BikeSetup::max_dab_speed},
    {"front_sprocket_adjustment", &BikeSetup::front_sprocket_adjustment},
    {"rear_sprocket_adjustment", &BikeSetup::rear_sprocket_adjustment},
    {"fork_compression_adjustment", &BikeSetup::fork_compression_adjustment},
    {"fork_slow_compression_adjustment", &BikeSetup::fork_slow_compression_adjustment},
    {"fork_rebound_adjustment", &BikeSetup::fork_rebound_adjustment},
    {"fork_slow_rebound_adjustment", &BikeSetup::fork_slow_rebound_adjustment},
    {"fork_spring_rate_adjustment", &BikeSetup::fork_spring_rate_adjustment},
    {"fork_preload_adjustment", &BikeSetup::fork_preload_adjustment},
    {"fork_oil_level_adjustment", &BikeSetup::fork_oil_level_adjustment},
    {"shock_compression_adjustment", &BikeSetup::shock_compression_adjustment},
    {"shock_slow_compression_adjustment", &BikeSetup::shock_slow_compression_adjustment},
    {"shock_rebound_adjustment", &BikeSetup::shock_rebound_adjustment},
    {"shock_slow_rebound_adjustment", &BikeSetup::shock_slow_rebound_adjustment},
    {"shock_spring_rate_adjustment", &BikeSetup::shock_spring_rate_adjustment},
    {"shock_preload_adjustment", &BikeSetup::shock_preload_adjustment},
    {"rider_yspring", &BikeSetup::rider_yspring},
    {"rider_ydamping", &BikeSetup::rider_ydamping},
    {"rider_zspring", &BikeSetup::rider_zspring},
    {"rider_zdamping", &BikeSetup::rider_zdamping},
    {"rider_mass_distribution", &BikeSetup::rider_mass_distribution},
};
struct ChoiceKey {
  const char* key;
  int BikeSetup::*value;
  int count;
};
const ChoiceKey CHOICE_KEYS[] = {
    {"arcade", &BikeSetup::arcade, 2},           {"front_brake", &BikeSetup::front_brake, 2},
    {"rear_brake", &BikeSetup::rear_brake, 2},   {"stop_wheelies", &BikeSetup::stop_wheelies, 3},
    {"auto_shift", &BikeSetup::auto_shift, 2},   {"auto_dab", &BikeSetup::auto_dab, 2},
    {"auto_align", &BikeSetup::auto_align, 2},   {"sticky_dab", &BikeSetup::sticky_dab, 2},
    {"reverse_steering", &BikeSetup::reverse_steering, 2}, {"lean_indicator", &BikeSetup::lean_indicator, 2},
};

}  // namespace

bool set_setup_value(BikeSetup* setup, const char* key, double value) {
  if (!key) return false;
  for (const NumberKey& k : NUMBER_KEYS)
    if (strcmp(k.key, key) == 0) {
      if (!std::isfinite(value)) return false;
      if (k.value == &BikeSetup::stability) apply_stability(setup, value);
      else setup->*k.value = value;
      return true;
    }
  for (const ChoiceKey& k : CHOICE_KEYS)
    if (strcmp(k.key, key) == 0) {
      if (!(value >= 0 && value < k.count) || value != std::floor(value)) return false;
      setup->*k.value = (int)value;
      return true;
    }
  return false;
}

void apply_stability(BikeSetup* setup, double stability) {
  setup->stability = stability;
  double s = clampd(stability * 5 * 0.01, 0, 5);
  int level = (int)std::floor(s);
  if (level > 4) level = 4;
  if (level < 0) level = 0;
  double f = s - level;
  for (const PresetRow& row : PRESETS)
    setup->*row.key = row.value[level] + f * (row.value[level + 1] - row.value[level]);
}

double final_drive_ratio(double stock_countershaft, double stock_rear, double a, double b) {
  a = clampd(a, -2, 2);
  b = clampd(b, -2, 2);
  double rear = std::fmax(3.0, std::floor(stock_rear + b));
  double front = std::fmax(3.0, std::floor(stock_countershaft + a));
  return rear / front;
}

double damping_scale(double c) { return clampd(std::pow(2.0, c * 0.04 - 2), 0.25, 4); }
double slow_offset(double c) { return clampd(c * 0.02 - 1, -1, 1); }
double range_fraction(double c) { return clampd(c * 0.01, 0, 1); }

void set_default_tuning(Bike* bike) {
  const BikeModel& m = bike->model;
  BikeTuning& t = bike->tuning;
  BikeSetup stock;
  t.leveling = stock.leveling;
  t.roll_damping = stock.roll_damping;
  t.roll_limit_angle = stock.roll_limit_angle * DEGREES;
  t.roll_limit_factor = stock.roll_limit_factor;
  t.steering_damping = stock.steering_damping;
  t.steering_strength = stock.steering_strength;
  t.max_steering_force = stock.max_steering_force;
  t.arcade = g_arcade_disabled ? 0 : stock.arcade;
  t.front_brake_mode = stock.front_brake;
  t.rear_brake_mode = stock.rear_brake;
  t.stop_wheelies = stock.stop_wheelies;
  t.auto_shift = stock.auto_shift;
  t.auto_dab = stock.auto_dab;
  t.auto_align = stock.auto_align;
  t.direct_steering = stock.direct_steering;
  t.slow_damping_speed = stock.slow_damping_speed;
  t.slow_damping_factor = stock.slow_damping_factor;
  t.land_damping_falloff = stock.land_damping_falloff;
  t.land_damping_factor = stock.land_damping_factor;
  t.full_lock_speed = stock.full_lock_speed;
  t.restricted_lock_speed = stock.restricted_lock_speed;
  t.restricted_lock = stock.restricted_lock * DEGREES;
  t.auto_clutch_rpms = stock.auto_clutch_rpms;
  t.brake_torque = stock.brake_torque;
  t.rear_brake_torque = stock.rear_brake_torque;
  t.max_dab_speed = stock.max_dab_speed * MPH;
  t.final_drive = final_drive_ratio(m.countershaft_sprocket, m.rear_sprocket, 0, 0);
  t.fork_compression = m.fork_compression_damping;
  t.fork_slow_compression = 0;
  t.fork_rebound = m.fork_rebound_damping;
  t.fork_slow_rebound = 0;
  t.fork_spring = m.fork_spring_rate[0] + 0.5 * (m.fork_spring_rate[1] - m.fork_spring_rate[0]);
  t.fork_preload = m.fork_preload[0] + 0.5 * (m.fork_preload[1] - m.fork_preload[0]);
  t.fork_air_length = m.fork_air_length[0];
  t.shock_compression = m.shock_compression_damping;
  t.shock_slow_compression = 0;
  t.shock_rebound = m.shock_rebound_damping;
  t.shock_slow_rebound = 0;
  t.shock_spring = m.shock_spring_rate[0] + 0.5 * (m.shock_spring_rate[1] - m.shock_spring_rate[0]);
  t.shock_preload = m.shock_preload[0] + 0.5 * (m.shock_preload[1] - m.shock_preload[0]);
  t.rider_yspring = t.rider_zspring = 0.5;
  t.rider_ydamping = t.rider_zdamping = 0.5;
  if (bike->body[BODY_FRAME]) set_rider_mass_distribution(bike, 1.0 / 3.0);
  else t.mass_distribution = 1.0 / 3.0;
}

bool apply_setup(Bike* bike, const BikeSetup& s, double now) {
  if (length(body_velocity(*bike, BODY_FRAME)) > 0.125) {
    if (now - g_last_setup_refusal < 10.0) show_message("Settings not applied.  Mechanic can't keep up error.");
    g_last_setup_refusal = now;
    return false;
  }
  const BikeModel& m = bike->model;
  BikeTuning& t = bike->tuning;
  t.leveling = s.leveling;
  t.roll_damping = s.roll_damping;
  t.roll_limit_angle = s.roll_limit_angle * DEGREES;
  t.roll_limit_factor = s.roll_limit_factor;
  t.steering_damping = s.steering_damping;
  t.steering_strength = s.steering_strength;
  t.max_steering_force = s.max_steering_force;
  t.arcade = g_arcade_disabled ? 0 : s.arcade;
  t.front_brake_mode = s.front_brake;
  t.rear_brake_mode = s.rear_brake;
  t.stop_wheelies = s.stop_wheelies;
  t.auto_shift = s.auto_shift;
  t.auto_dab = s.auto_dab;
  t.auto_align = s.auto_align;
  t.direct_steering = s.direct_steering;
  t.slow_damping_speed = s.slow_damping_speed;
  t.slow_damping_factor = s.slow_damping_factor;
  t.land_damping_falloff = s.land_damping_falloff;
  t.land_damping_factor = s.land_damping_factor;
  t.full_lock_speed = s.full_lock_speed;
  t.restricted_lock_speed = s.restricted_lock_speed;
  t.restricted_lock = s.restricted_lock * DEGREES;
  t.auto_clutch_rpms = s.auto_clutch_rpms;
  t.brake_torque = s.brake_torque;
  t.rear_brake_torque = s.rear_brake_torque;
  t.max_dab_speed = s.max_dab_speed * MPH;

  flag_outside(s.front_sprocket_adjustment, -2.5, 2.5);
  flag_outside(s.rear_sprocket_adjustment, -2.5, 2.5);
  t.final_drive = final_drive_ratio(m.countershaft_sprocket, m.rear_sprocket, s.front_sprocket_adjustment,
                                    s.rear_sprocket_adjustment);

  auto scale = [](double c) {
    flag_outside(std::pow(2.0, c * 0.04 - 2), -0.21875, 4.46875);
    return damping_scale(c);
  };
  auto offset = [](double c) {
    flag_outside(c * 0.02 - 1, -1.25, 1.25);
    return slow_offset(c);
  };
  auto fraction = [](double c) {
    flag_outside(c * 0.01, -0.125, 1.125);
    return range_fraction(c);
  };
  auto between = [](const float range[2], double f) { return range[0] + f * (range[1] - range[0]); };

  t.fork_compression = scale(s.fork_compression_adjustment) * m.fork_compression_damping;
  t.fork_slow_compression = offset(s.fork_slow_compression_adjustment) * m.fork_slow_compression;
  t.fork_rebound = scale(s.fork_rebound_adjustment) * m.fork_rebound_damping;
  t.fork_slow_rebound = offset(s.fork_slow_rebound_adjustment) * m.fork_slow_rebound;
  t.fork_spring = between(m.fork_spring_rate, fraction(s.fork_spring_rate_adjustment));
  t.fork_preload = between(m.fork_preload, fraction(s.fork_preload_adjustment));
  t.fork_air_length = between(m.fork_air_length, fraction(s.fork_oil_level_adjustment));

  t.shock_compression = scale(s.shock_compression_adjustment) * m.shock_compression_damping;
  t.shock_slow_compression = offset(s.shock_slow_compression_adjustment) * m.shock_slow_compression;
  t.shock_rebound = scale(s.shock_rebound_adjustment) * m.shock_rebound_damping;
  t.shock_slow_rebound = offset(s.shock_slow_rebound_adjustment) * m.shock_slow_rebound;
  t.shock_spring = between(m.shock_spring_rate, fraction(s.shock_spring_rate_adjustment));
  t.shock_preload = between(m.shock_preload, fraction(s.shock_preload_adjustment));

  t.rider_yspring = fraction(s.rider_yspring);
  t.rider_zspring = fraction(s.rider_zspring);
  t.rider_ydamping = fraction(s.rider_ydamping);
  t.rider_zdamping = fraction(s.rider_zdamping);

  flag_outside(s.rider_mass_distribution, 0.30875, 0.52125);
  set_rider_mass_distribution(bike, clampd(s.rider_mass_distribution, 0.33, 0.5));
  return true;
}
