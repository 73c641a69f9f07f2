// Plausibility figures of the bike models, one row per class: masses, the
// torque curve's peaks and rev limit, gearing and the top-gear speed it
// allows, and measured rides on the flat course (full-throttle sprint,
// braking from 40 mph, static sag with the rider aboard).
//
//   bike_figures [model ...]
//
// Without names it prints crf450(2016), crf250(2016), yz250(2012), cr125
// and rs50cr. Masses are printed in kg (the model's slugs x 14.594).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_model.h"
#include "bike/drivetrain.h"
#include "bike/proving_ground.h"
#include "tools/ride/ride.h"
#include "track/terrain.h"

namespace {

constexpr double KG_PER_SLUG = 14.593903;
constexpr double FOOT_POUNDS_PER_NM = 0.737562;

struct EngineFigures {
  double peak_torque = 0, torque_rpm = 0, peak_power = 0, power_rpm = 0, rev_limit = 0;
};

// Scans the full-throttle curve in 10 rpm steps. The rev limit is the first
// speed above the torque peak where the curve gives no more drive.
EngineFigures engine_figures(const BikeModel& m) {
  EngineFigures f;
  for (double rpm = 0; rpm <= 24500; rpm += 10) {
    double t = engine_torque(m, rpm, 1);
    double hp = t * rpm / 5252.0;
    if (t > f.peak_torque) f.peak_torque = t, f.torque_rpm = rpm;
    if (hp > f.peak_power) f.peak_power = hp, f.power_rpm = rpm;
    if (f.rev_limit == 0 && rpm > f.torque_rpm && f.torque_rpm > 0 && t <= 0) f.rev_limit = rpm;
  }
  return f;
}

double model_bike_mass(const BikeModel& m) {
  return m.frame_mass + m.fork_mass + m.swingarm_mass + m.front_ring_mass + m.front_hub_mass + m.rear_ring_mass +
         m.rear_hub_mass;
}

// Sag as a share of travel after four seconds standing on the flat course.
bool static_sag(const char* model, const Terrain& flat, double* front, double* rear) {
  RideScript script;
  char text[96], error[128];
  snprintf(text, sizeof text, "course flat\nduration 4\nbike %s\n", model);
  if (!parse_ride_script(text, strlen(text), &script, error, sizeof error)) return false;
  return run_ride(
      script, flat,
      [&](Ride& r) {
        *front = -fork_position(*r.bike) / r.bike->model.fork_travel;
        *rear = -swingarm_angle(*r.bike) / r.bike->model.swingarm_travel;
      },
      nullptr, error, sizeof error);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> models;
  for (int i = 1; i < argc; i++) models.push_back(argv[i]);
  if (models.empty()) models = {"crf450(2016)", "crf250(2016)", "yz250(2012)", "cr125", "rs50cr"};

  Terrain* flat = new Terrain();
  build_course(flat, COURSE_FLAT);
  int failures = 0;
  for (const char* name : models) {
    int index = find_bike_model(name);
    if (index < 0) {
      fprintf(stderr, "bike_figures: no bike model named \"%s\"\n", name);
      failures++;
      continue;
    }
    const BikeModel& m = bike_model_at(index);
    EngineFigures e = engine_figures(m);
    int top = bike_gear_count(m) - 1;
    double rear_radius = m.rear_ring_radius + m.rear_section_radius;  // ft, rolling radius of the tyre
    double reduction = m.primary_reduction * m.gear_ratio[top] * m.rear_sprocket / m.countershaft_sprocket;
    double top_mph = e.rev_limit * 2 * PI_D / 60 / reduction * rear_radius / FEET_PER_SECOND_PER_MPH;

    SprintFigures sprint;
    BrakingFigures braking;
    double sag_front = 0, sag_rear = 0;
    char error[128];
    if (!measure_full_throttle(name, *flat, &sprint, error, sizeof error) ||
        !measure_braking(name, *flat, 40, &braking, error, sizeof error) ||
        !static_sag(name, *flat, &sag_front, &sag_rear)) {
      fprintf(stderr, "bike_figures: %s: %s\n", name, error);
      failures++;
      continue;
    }
    printf("%s (%s)\n", m.name, m.engine_class);
    printf("  mass: bike %.1f kg, rider %.1f kg\n", model_bike_mass(m) * KG_PER_SLUG, m.rider_mass * KG_PER_SLUG);
    printf("  torque: %.1f lbf ft (%.1f N m) at %.0f rpm; power %.1f hp at %.0f rpm; rev limit %.0f rpm\n",
           e.peak_torque, e.peak_torque / FOOT_POUNDS_PER_NM, e.torque_rpm, e.peak_power, e.power_rpm, e.rev_limit);
    printf("  gearing: primary %.3f, sprockets %.0f/%.0f, gears", m.primary_reduction, m.countershaft_sprocket,
           m.rear_sprocket);
    for (int g = 0; g <= top; g++) printf(" %.3f", m.gear_ratio[g]);
    printf("; top gear at the rev limit %.1f mph (rear tyre radius %.2f ft)\n", top_mph, rear_radius);
    printf("  flat, full throttle: 0-30 %.2f s, 0-60 ", sprint.to30);
    if (sprint.to60 > 0) printf("%.2f s", sprint.to60);
    else printf("not reached");
    // The radius the rear tyre actually rolls on at the top speed (loaded
    // and sunk into the dirt), from the speed and the engine speed.
    double rolling = sprint.top * FEET_PER_SECOND_PER_MPH / (sprint.top_rpm * 2 * PI_D / 60 / reduction);
    printf(", top %.1f mph at %.0f rpm (rolling radius %.3f ft)%s\n", sprint.top, sprint.top_rpm, rolling,
           sprint.crashed ? " (crashed)" : "");
    if (braking.stopped)
      printf("  braking from 40 mph: %.1f ft (%.1f m)%s\n", braking.distance, braking.distance * 0.3048,
             braking.crashed ? " (crashed)" : "");
    else
      printf("  braking from 40 mph: did not stop\n");
    printf("  static sag: front %.0f %% of %.2f ft, rear %.0f %% of %.3f rad swing-arm travel\n", sag_front * 100,
           m.fork_travel, sag_rear * 100, m.swingarm_travel);
  }
  delete flat;
  return failures == 0 ? 0 : 1;
}
