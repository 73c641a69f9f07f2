// The race's robot seam.
#include "robot/race_robots.h"

#include "bike/bike.h"
#include "platform/log.h"
#include "race/race.h"
#include "robot/personalities.h"
#include "track/track.h"

namespace {

RaceRobots* of(void* context) { return static_cast<RaceRobots*>(context); }

}  // namespace

void install_race_robots(Race* race, RaceRobots* robots) {
  robots->race = race;
  robots->resets = 0;
  robots->owner_fills_store = false;
  robots->record_store = nullptr;
  robots->store = LineStore();
  for (int i = 0; i < MAX_BIKES; i++) {
    robots->robots[i] = Robot();
    reset_line_recorder(&robots->recorders[i]);
  }
  RaceRobotSeams& seam = race->seams.robot;
  seam.context = robots;
  seam.remember_lines = remember_race_lines;
  seam.analyze_lines = analyze_race_lines;
  seam.robot_created = race_robot_created;
  seam.controls = race_robot_controls;
  seam.record_line = record_race_line;
}

void remember_race_lines(void* context, const char* track) {
  RaceRobots* r = of(context);
  if (r->owner_fills_store) return;
  // Only learning changes what is worth keeping: without it the store that
  // was read stays as it is on disk, whatever the robots made of it.
  if (r->race && r->race->learn && r->store.track == track) save_line_store(&r->store);
  r->store = LineStore();
}

void analyze_race_lines(void* context, const char* track, int skill) {
  RaceRobots* r = of(context);
  r->resets++;
  for (int i = 0; i < MAX_BIKES; i++) {
    r->robots[i] = Robot();
    reset_line_recorder(&r->recorders[i]);
  }
  if (!r->race || !r->race->track || r->owner_fills_store) return;
  load_line_store(&r->store, r->race->track->gates, track ? track : "", skill);
}

void race_robot_created(void* context, int slot, int personality, int skill) {
  RaceRobots* r = of(context);
  if (slot < 0 || slot >= MAX_BIKES) return;
  double aggression = 0.5, consistency = 0.5;
  if (personality >= 0 && personality < PERSONALITY_COUNT) {
    aggression = g_robot_personalities[personality].aggression;
    consistency = g_robot_personalities[personality].consistency;
  }
  init_robot(&r->robots[slot], slot, robot_style(skill, aggression, consistency),
             r->resets * 7919u + (uint32_t)(personality + 1) * 104729u);
}

void race_robot_controls(void* context, const Race& race, int slot, float control[ROBOT_CONTROLS]) {
  RaceRobots* r = of(context);
  if (slot < 0 || slot >= MAX_BIKES || !race.bikes[slot] || !race.track) return;
  Robot& robot = r->robots[slot];
  if (!robot.active) init_robot(&robot, slot, robot_style(race.skill, 0.5, 0.5), r->resets * 7919u);
  RobotWorld world{&r->store, &race.track->gates, &race.track->terrain, race.bikes, race.tick,
                   race.tick >= race.gate_drop_tick, true};
  robot_controls(&robot, world, *race.bikes[slot], race.timing[slot], control);
}

void record_race_line(void* context, const Race& race, int slot, int gate) {
  RaceRobots* r = of(context);
  if (!race.learn || slot < 0 || slot >= MAX_BIKES || !race.bikes[slot] || !race.track) return;
  const Bike& b = *race.bikes[slot];
  RecordSample s{to_vec3(body_position(b, BODY_FRAME)), to_vec3(body_velocity(b, BODY_FRAME)), b.crash_timer > 0,
                 gate, race.timing[slot].finished};
  LineRecorder& rec = r->recorders[slot];
  if (race.tick == race.gate_drop_tick) start_line(&rec, race.track->gates, GATE_DROP, race.tick, s);
  else if (race.tick > race.gate_drop_tick)
    record_line_tick(r->record_store ? r->record_store : &r->store, &rec, race.track->gates, s, race.tick);
}
