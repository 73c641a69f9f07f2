// The race behind the game's hook table.
#include "race/race_game.h"

#include <algorithm>
#include <cmath>

#include "core/command_line.h"
#include "core/config.h"
#include "bike/bike.h"
#include "bike/bike_model.h"
#include "bike/drivetrain.h"
#include "bike/suspension.h"
#include "core/game_hooks.h"
#include "robot/race_robots.h"
#include "track/track.h"

Race g_race;

namespace {

const char* list_name(ChoiceListId list, int index) {
  const std::vector<std::string>& names = choice_values(list).names;
  return index >= 0 && index < (int)names.size() ? names[(size_t)index].c_str() : "";
}

bool player_riding() {
  const int s = g_race.local_slot;
  return s >= 0 && s < MAX_BIKES && g_race.bikes[s] && g_race.mode[s] == RACE_SLOT_LOCAL;
}

void race_state(RaceState* out) {
  out->track_loaded = !g_track.name.empty();
  out->player_slot = g_race.local_slot;
  out->player_riding = player_riding();
  out->player_racing = out->player_riding && !race_bike_finished(g_race, g_race.local_slot);
  out->time_trial = g_race.time_trial;
  out->race_over = race_over(g_race);
  out->minutes = g_race.time_limit / (60.0 * TICKS_PER_SECOND);
  out->laps = g_race.configured_laps;
  out->reset_count = g_race.reset_count;
}

bool bike_view(int slot, BikeView* out) {
  RaceBikeInfo info;
  if (!race_bike_info(g_race, slot, &info)) return false;
  out->position = info.position;
  for (int i = 0; i < 9; i++) out->rotation[i] = info.rotation[i];
  out->velocity = info.velocity;
  out->clutch_engagement = info.clutch_engagement;
  out->gate = info.checkpoint;
  out->status_line = info.status_line;
  out->has_sound = true;  // the sound step makes it on the bike's first frame
  out->skipping = false;
  out->ghost = false;
  return true;
}

int running_order(int slots[MAX_BIKES]) {
  for (int i = 0; i < g_race.running_count; i++) slots[i] = g_race.running_order[i].slot;
  return g_race.running_count;
}

void reset(const RaceReset& reset) {
  g_race.player = configured_player_rider();
  g_race.ground_method = ground_method_for_choice(g_config.render_texture);
  g_race.shader_path = false;
  g_race.debug_level = g_run_options.debug_level;
  g_race.learn = g_run_options.learn;
  RaceSetup setup;
  setup.track = reset.track;
  setup.lineup = reset.lineup;
  setup.playback = reset.playback;
  setup.record = g_config.record == CHOICE_YES;
  setup.time_limit = reset.minutes > 0 ? (int)(reset.minutes * 60.0 * TICKS_PER_SECOND) : 0;
  setup.laps = reset.laps;
  setup.skill = reset.skill;
  setup.practice = g_run_options.practice;
  reset_race(&g_race, setup);
}

void step() { race_step(&g_race); }

void apply_controls(const BikeControls& c) {
  set_player_controls(&g_race, RaceControls{c.steer, c.front_brake, c.rear_brake, c.throttle, c.dab, c.back_up, c.lean,
                                            c.clutch_engagement, c.shift});
}

void restart() { restart_attempt(&g_race); }

// The robot riders of the game's race.
RaceRobots g_race_robots;

void free_the_race() {
  // The program ends: the recording gets its last chunk.
  if (g_race.seams.replay.close_demos) g_race.seams.replay.close_demos(g_race.seams.replay.context);
  // What a learning session rode since the last reset is kept at exit too.
  if (g_race.track && !g_race.track->name.empty()) remember_race_lines(&g_race_robots, g_race.track->name.c_str());
  free_race(&g_race);
}

void move_bike(int slot, float dy) { race_move_bike(&g_race, slot, dy); }
bool bike_collides(int slot) { return race_bike_collides(g_race, slot); }

}  // namespace

const Bike* race_bike_in_slot(int slot) { return slot >= 0 && slot < MAX_BIKES ? g_race.bikes[slot] : nullptr; }

RaceRider configured_player_rider() {
  RaceRider rider;
  const PlayerSetup& b = g_bike_setup;
  rider.model = list_name(ChoiceListId::bike_models, b.bike);
  rider.rider_skin = list_name(ChoiceListId::rider_textures, b.rider_texture);
  rider.helmet_skin = list_name(ChoiceListId::head_textures, b.head_texture);
  rider.bike_skin = list_name(ChoiceListId::bike_textures, b.bike_texture);
  rider.wheel_skin = list_name(ChoiceListId::wheel_textures, b.wheel_texture);
  rider.number = b.number;
  rider.name = b.name;
  // The bike and skin choices are not setup keys; the bike's setup skips them.
  for (const SettingRow& row : bike_setup_rows()) {
    if (row.kind == SettingKind::number && row.number) rider.setup.emplace_back(row.key, *row.number);
    else if (row.kind == SettingKind::choice && row.choice) rider.setup.emplace_back(row.key, *row.choice);
  }
  return rider;
}

namespace {

// The suspension graph's read-outs: travel used (0 extended .. 1 bottomed),
// the damper's speed (negative compressing) and how much of the damping at
// that speed comes from the low-speed term.
void suspension_readouts(const Bike& b, HudBike* out) {
  const BikeTuning& t = b.tuning;
  // The low-speed term is an offset either way (0 at the middle setting):
  // its share is of the damping's size.
  auto share = [](double speed, double slow_compression, double compression, double slow_rebound, double rebound) {
    return (float)(speed < 0 ? low_speed_share(std::fabs(slow_compression), compression, speed)
                             : low_speed_share(std::fabs(slow_rebound), rebound, speed));
  };
  double fork = fork_position(b), fork_speed = fork_rate(b);
  out->fork_position = (float)std::clamp(-fork / std::max(b.model.fork_travel, 1e-6f), 0.0, 1.0);
  out->fork_speed = (float)fork_speed;
  out->fork_low_speed_share =
      share(fork_speed, t.fork_slow_compression, t.fork_compression, t.fork_slow_rebound, t.fork_rebound);
  ShockParameters shock = shock_parameters(b);
  double u = std::clamp(-swingarm_angle(b) / std::max(shock.travel, 1e-6), 0.0, 1.0);
  double shock_speed = linkage_curve(shock.linkage, u).ratio * swingarm_rate(b);
  out->swingarm_position = (float)u;
  out->shock_speed = (float)shock_speed;
  out->shock_low_speed_share =
      share(shock_speed, t.shock_slow_compression, t.shock_compression, t.shock_slow_rebound, t.shock_rebound);
}

// The HUD's read-outs of a bike: its engine and gearbox, its rider and its
// laps (the lap being ridden timed from the end of the last one), and its
// suspension.
bool hud_bike(int slot, HudBike* out) {
  const Bike* b = race_bike_in_slot(slot);
  if (!b) return false;
  *out = {};
  out->engine_rpm = (float)engine_rpm(*b);
  out->redline_rpm = b->model.engine_speed_marks[2];
  out->gear = b->neutral ? 0 : b->gear + 1;
  out->gear_count = bike_gear_count(b->model);
  out->lean = b->input.lean;
  out->crashed = b->crash_timer > 0;
  suspension_readouts(*b, out);
  if (g_race.track) {
    LapState lap = lap_state(g_race.track->gates, g_race.timing[slot]);
    out->laps_completed = lap.completed_laps;
    int start = g_race.gate_drop_tick;
    bool known = true;
    for (int l = 1; l <= lap.completed_laps && known; l++) {
      int t = race_lap_time(g_race, slot, l);
      if (t < 0) known = false;
      else start += t;
      if (l == lap.completed_laps && t >= 0) out->last_lap_ticks = t;
    }
    out->lap_ticks = known && g_race.tick > start ? g_race.tick - start : 0;
  }
  int best_number = 0;
  int best = race_best_lap(g_race, slot, &best_number);
  out->best_lap_ticks = best > 0 ? best : 0;
  out->finished = g_race.timing[slot].finished;
  out->name = g_race.riders[slot].name.c_str();
  out->number = g_race.riders[slot].number.c_str();
  out->bike = b->model.name;
  return true;
}

bool hud_race(HudRace* out) {
  *out = {};
  out->tick = g_race.tick;
  out->gate_drop_tick = g_race.gate_drop_tick;
  out->lap_total = g_race.lap_total;
  out->time_limit_ticks = g_race.time_limit;
  out->time_trial = g_race.time_trial;
  out->practice = g_run_options.practice;
  out->playback = g_race.playback;
  return g_race.track != nullptr;
}

}  // namespace

void install_race_hooks() {
  init_race(&g_race);
  g_race.track = &g_track;
  install_race_robots(&g_race, &g_race_robots);
  RaceHooks& race = g_game_hooks.race;
  race.state = race_state;
  race.bike = bike_view;
  race.running_order = running_order;
  race.reset = reset;
  race.step = step;
  race.apply_controls = apply_controls;
  race.restart_attempt = restart;
  race.free_race = free_the_race;
  race.bike_body = race_bike_in_slot;
  race.hud_bike = hud_bike;
  race.hud_race = hud_race;
  PhysicsHooks& physics = g_game_hooks.physics;
  if (!physics.create_world) physics.create_world = race_create_world;
  if (!physics.free_world) physics.free_world = race_free_world;
  if (!physics.move_bike) physics.move_bike = move_bike;
  if (!physics.bike_collides) physics.bike_collides = bike_collides;
}
