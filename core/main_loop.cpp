#include "core/main_loop.h"

#include <algorithm>
#include <cstring>

#include "core/config.h"
#include "core/message.h"
#include "platform/log.h"

GameHooks g_game_hooks = {};
MainLoop g_main_loop;
int g_start_lineup[MAX_BIKES];
int g_decal_count_max = 0;

namespace {

constexpr float STATUS_LINE_BELOW_TOP = 28.0f;
constexpr float STATUS_LINE_SCALE = 30.0f;
constexpr float PAUSED_BELOW_TOP = 1.0f;
// A bike inside something solid would otherwise be raised for ever.
constexpr int SETTLE_MAX_RAISES = 4096;

const GameHooks& hooks() { return g_game_hooks; }

RaceState race_state() {
  RaceState state = {};
  state.gate_drop_tick = -1;
  state.player_slot = NO_BIKE;
  if (hooks().race.state) hooks().race.state(&state);
  return state;
}

NetState net_state() {
  NetState state = {};
  if (hooks().net.state) hooks().net.state(&state);
  return state;
}

bool menu_open() { return hooks().ui.menu_open && hooks().ui.menu_open(); }

bool bike_view(int slot, BikeView* out) {
  if (slot < 0 || slot >= MAX_BIKES || !hooks().race.bike) return false;
  *out = BikeView{};
  out->gate = -1;
  return hooks().race.bike(slot, out);
}

int running_order(int slots[MAX_BIKES]) {
  if (!hooks().race.running_order) return 0;
  return std::clamp(hooks().race.running_order(slots), 0, MAX_BIKES);
}

int camera_count() { return hooks().world.camera_count ? std::max(hooks().world.camera_count(), 0) : 0; }

void draw_banner(const char* text, float below_top, float scale) {
  if (hooks().ui.draw_banner) hooks().ui.draw_banner(text, below_top, scale);
}

// The viewed bike stays the same until it disappears or the race is reset;
// then it is the player's bike, else the first bike in the running order.
void update_viewed_slot(MainLoop* loop, const RaceState& race) {
  bool reset = race.reset_count != loop->seen_reset_count;
  loop->seen_reset_count = race.reset_count;
  BikeView bike;
  if (!reset && bike_view(loop->viewed_slot, &bike)) return;
  if (bike_view(race.player_slot, &bike)) {
    loop->viewed_slot = race.player_slot;
    return;
  }
  int order[MAX_BIKES];
  int count = running_order(order);
  for (int i = 0; i < count; i++) {
    if (bike_view(order[i], &bike)) {
      loop->viewed_slot = order[i];
      return;
    }
  }
  loop->viewed_slot = NO_BIKE;
}

// With nothing seen yet, the free camera starts over the track's corner
// looking in across it (the ground lies toward +X and +Z).
void place_free_camera_somewhere(MainLoop* loop) {
  if (loop->have_last_pose) {
    place_free_camera(&loop->track_cameras.free, loop->last_pose);
    return;
  }
  GroundHeightFn ground = hooks().world.ground_height;
  Vec3 eye = {0.0f, (ground ? ground(0.0f, 0.0f) : 0.0f) + 20.0f, 0.0f};
  place_free_camera(&loop->track_cameras.free, {eye, eye + Vec3{0.7f, -0.3f, 0.7f}, 0.0f});
}

CameraPose view_pose(MainLoop* loop, const RaceState& race, const BikeView* bike) {
  const float fov = (float)g_config.fov;
  GroundHeightFn ground = hooks().world.ground_height;
  if (loop->mode == VIEW_THIRD_PERSON && bike) {
    ChaseSettings chase = {g_run_options.chase_center, (float)g_config.third_person_distance,
                           (float)g_config.third_person_height, g_config.rigid_camera == CHOICE_YES};
    CameraPose pose = third_person_camera(*bike, race.player_riding, loop->orbit, chase, ground);
    pose.fov = fov;
    return pose;
  }
  TrackCameraState& cameras = loop->track_cameras;
  int count = camera_count();
  if (bike) {
    follow_bike_with_track_cameras(&cameras, bike->gate, hooks().world.camera_for_gate, count);
  } else if (cameras.selected >= count) {
    cameras.selected = -1;
  }
  if (cameras.selected < 0 && !cameras.free.placed) place_free_camera_somewhere(loop);
  TrackCameraRecord record;
  bool have_record = cameras.selected >= 0 && hooks().world.camera && hooks().world.camera(cameras.selected, &record);
  return track_camera_view(cameras, have_record ? &record : nullptr, bike, loop->paused, fov);
}

// Steps 3 to 7 of a frame whose window can be drawn. False when the swap failed.
bool draw_frame(MainLoop* loop, const FramePlatform& platform, const RaceState& race, const NetState& net) {
  const RunOptions& options = g_run_options;
  int width = 0, height = 0;
  if (platform.drawable_size) platform.drawable_size(&width, &height);
  if (g_config.video_mode == VIDEO_MODE_WINDOWED && width > 0 && height > 0) {
    g_config.xres = width;
    g_config.yres = height;
  }

  ViewSetup view = {};
  view.mode = loop->mode;
  view.width = width;
  view.height = height;
  view.fov = (float)g_config.fov;
  view.viewed_slot = loop->viewed_slot;
  view.paused = loop->paused;
  BikeView bike;
  bool have_bike = bike_view(loop->viewed_slot, &bike);
  if (!have_bike) view.viewed_slot = NO_BIKE;
  if (loop->mode == VIEW_THIRD_PERSON || loop->mode == VIEW_TRACK_CAMERA) {
    CameraPose pose = view_pose(loop, race, have_bike ? &bike : nullptr);
    view.eye = pose.eye;
    view.target = pose.target;
    view.fov = pose.fov;
    loop->last_pose = pose;
    loop->have_last_pose = true;
  }
  // The keyframe camera flies over any riding view, as a track camera.
  Vec3 key_eye, key_target;
  if ((loop->mode == VIEW_FIRST_PERSON || loop->mode == VIEW_THIRD_PERSON || loop->mode == VIEW_TRACK_CAMERA) &&
      hooks().net.keyframe_camera && hooks().net.keyframe_camera(&key_eye, &key_target)) {
    view.mode = VIEW_TRACK_CAMERA;
    view.eye = key_eye;
    view.target = key_target;
    view.fov = (float)g_config.fov;
    loop->last_pose = {key_eye, key_target, view.fov};
    loop->have_last_pose = true;
  }

  // 4. The view, its status line and the HUD.
  if (hooks().render.draw_view) {
    hooks().render.draw_view(view);
  } else if (platform.clear_frame) {
    platform.clear_frame();
  }
  if (loop->mode == VIEW_TRACK_CAMERA && loop->track_cameras.automatic && have_bike && bike.status_line &&
      bike.status_line[0]) {
    draw_banner(bike.status_line, STATUS_LINE_BELOW_TOP, STATUS_LINE_SCALE);
  }
  bool riding_view = loop->mode == VIEW_FIRST_PERSON || loop->mode == VIEW_THIRD_PERSON ||
                     loop->mode == VIEW_TRACK_CAMERA;
  if (riding_view && options.show_hud && hooks().ui.draw_hud) hooks().ui.draw_hud(view.viewed_slot);

  // 5. The frame as video, before the pause text and the menus.
  if (loop->recording_video && !loop->paused && loop->mode != VIEW_MENU_SCREEN && platform.write_frame) {
    if (!platform.write_frame(stdout) || fflush(stdout) != 0) {
      log_printf("Video recording stopped: standard output takes no more frames\n");
      loop->recording_video = false;
    }
  }

  // 6.
  if (loop->paused && options.show_paused_text) draw_banner("Paused", PAUSED_BELOW_TOP, 0.0f);
  if (race.player_riding && net.connected && !net.server_race_running) {
    draw_banner("Warmup mode - collisions disabled", STATUS_LINE_BELOW_TOP, 0.0f);
  }

  // 7.
  if (hooks().ui.draw_menus) hooks().ui.draw_menus();
  if (options.glfinish && platform.finish_frame) platform.finish_frame();
  return !platform.end_frame || platform.end_frame();
}

void sound_step(const MainLoop& loop, const FramePlatform& platform, const RaceState& race, bool menu) {
  int output = platform.audio_output ? platform.audio_output() : AUDIO_NONE;
  if (output == AUDIO_NONE) return;
  if (hooks().sound.produce) {
    float master = sound_master_factor(loop, menu, race.player_riding);
    float competitors = master * (float)(g_config.comp_volume * 0.1);
    for (int slot = 0; slot < MAX_BIKES; slot++) {
      BikeView bike;
      if (!bike_view(slot, &bike) || !bike.has_sound) continue;
      float loudness = bike.skipping ? 0.0f : slot == loop.viewed_slot ? master : competitors;
      hooks().sound.produce(slot, loudness);
    }
  }
  if (output == AUDIO_DEVICE && platform.submit_audio) platform.submit_audio();
}

void pointer_step(MainLoop* loop, const FramePlatform& platform) {
  if (!platform.read_axis) return;
  int x = platform.read_axis(AXIS_CURSOR_X);
  int y = platform.read_axis(AXIS_CURSOR_Y);
  if (menu_open() && hooks().ui.menu_pointer) {
    if (!loop->cursor_left_held) {
      hooks().ui.menu_pointer({x, y, false});
    } else if (x != loop->cursor_x || y != loop->cursor_y) {
      hooks().ui.menu_pointer({x, y, true});
    }
  }
  loop->cursor_x = x;
  loop->cursor_y = y;
}

void apply_player_controls(MainLoop* loop, const RaceState& race) {
  BikeView bike;
  float engagement = bike_view(race.player_slot, &bike) ? bike.clutch_engagement : 1.0f;
  ControlOptions options = {g_bike_setup.reverse_steering != 0, g_bike_setup.sticky_dab != 0};
  BikeControls controls = apply_control_vector(loop->controls, options, &loop->latch, engagement);
  if (hooks().race.apply_controls) hooks().race.apply_controls(controls);
}

void run_step(MainLoop* loop, const FramePlatform& platform, double deadline) {
  // 3. The events due before this step, then 4. the control vector.
  loop->menu_changed = false;
  InputEvent event;
  while (next_step_event(platform.timing, deadline, &event)) handle_event(loop, event);
  build_control_vector(&loop->table, loop->keys, platform.read_axis, loop->controls);

  RaceState race = race_state();
  NetState net = net_state();
  bool menu = menu_open();
  // 5. An open menu holds an offline race.
  if (menu && race.player_riding && !net.connected) return;
  // 6, 7.
  if (loop->mode == VIEW_EDITOR) {
    if (hooks().editor.step) hooks().editor.step();
    if (!net.connected) return;
  } else if (!menu && loop->mode != VIEW_MENU_SCREEN) {
    if (race.player_riding) {
      if (race.time_trial && g_config.time_trial_abort == CHOICE_YES && loop->controls[CONTROL_BACK_UP] > 0.5f &&
          hooks().race.restart_attempt) {
        hooks().race.restart_attempt();
      }
      if (race.player_racing) apply_player_controls(loop, race);
    } else if (loop->mode == VIEW_THIRD_PERSON) {
      steer_chase_orbit(&loop->orbit, loop->controls);
    } else if (loop->mode == VIEW_TRACK_CAMERA) {
      steer_track_camera(&loop->track_cameras, loop->controls, hooks().world.ground_height);
    }
  }

  // 8. The network client; it may have taken the track away.
  if (net.connected) loop->paused = false;
  if (hooks().net.step) {
    hooks().net.step();
    net = net_state();
  }
  if (!race_state().track_loaded) loop->mode = VIEW_MENU_SCREEN;

  // 9. The race step.
  bool run = (!loop->paused || loop->single_step) && loop->mode != VIEW_MENU_SCREEN &&
             (!net.connected || net.first_server_tick_seen);
  loop->single_step = false;
  if (!run) return;
  if (hooks().race.step) hooks().race.step();
  loop->race_steps++;
  if (loop->capturing_audio && platform.audio_output && platform.audio_output() == AUDIO_CAPTURE &&
      platform.capture_audio_tick) {
    // A recording follows the engines step by step, not frame by frame: the
    // same ride gives the same samples however fast it was drawn.
    sound_step(*loop, platform, race_state(), menu_open());
    if (!platform.capture_audio_tick()) {
      log_printf("Audio recording stopped: the file takes no more samples\n");
      loop->capturing_audio = false;
    }
  }
}

void after_steps(MainLoop* loop) {
  RaceState race = race_state();
  if (g_run_options.warp && race.race_over && hooks().race.reset) {
    int last = g_start_lineup[MAX_BIKES - 1];
    memmove(&g_start_lineup[1], &g_start_lineup[0], sizeof g_start_lineup[0] * (MAX_BIKES - 1));
    g_start_lineup[0] = last;
    hooks().race.reset({nullptr, g_start_lineup, false, race.minutes, race.laps, g_config.skill});
  }
  if (loop->mode != VIEW_MENU_SCREEN && hooks().world.terrain_frame) hooks().world.terrain_frame();
  while (loop->clock.game_clock >= loop->next_decal_drop) {
    loop->next_decal_drop += DECAL_MAXIMUM_DECAY_SECONDS;
    if (g_decal_count_max > 0) g_decal_count_max--;
  }
}

void handle_escape(MainLoop* loop, const InputEvent& event, bool menu) {
  if (!menu) {
    if (hooks().ui.open_main_menu) {
      hooks().ui.open_main_menu();
      loop->menu_changed = true;
    } else {
      loop->quit = true;  // no menus to open: Esc leaves the game
    }
    return;
  }
  if (hooks().ui.close_menu) {
    hooks().ui.close_menu();
  } else if (hooks().ui.menu_key) {
    hooks().ui.menu_key(event);
  }
  loop->menu_changed = true;
}

}  // namespace

float sound_master_factor(const MainLoop& loop, bool menu, bool riding) {
  float factor;
  if (loop.paused || loop.mode == VIEW_EDITOR) {
    factor = 0.0f;
  } else if (!menu) {
    factor = 1.0f;
  } else {
    factor = riding ? 1.0f : 0.25f;
  }
  return factor * (float)(g_config.volume * 0.1);
}

void choose_view_mode(MainLoop* loop, const RaceState& race) {
  if (!race.track_loaded) {
    loop->mode = VIEW_MENU_SCREEN;
    return;
  }
  if (loop->mode == VIEW_MENU_SCREEN) loop->mode = VIEW_FIRST_PERSON;
  ViewMode mode = loop->mode;
  if (!race.player_riding && mode != VIEW_FIRST_PERSON && mode != VIEW_THIRD_PERSON && mode != VIEW_EDITOR) {
    loop->mode = VIEW_FIRST_PERSON;
  }
  BikeView bike;
  if (!bike_view(race.player_slot, &bike) && loop->mode != VIEW_EDITOR) loop->mode = VIEW_TRACK_CAMERA;
}

void settle_bikes_onto_ground() {
  const PhysicsHooks& physics = hooks().physics;
  if (!physics.move_bike || !physics.bike_collides) return;
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    BikeView bike;
    if (!bike_view(slot, &bike)) continue;
    physics.move_bike(slot, -0.125f);
    for (int raises = 0; raises < SETTLE_MAX_RAISES && physics.bike_collides(slot); raises++) {
      physics.move_bike(slot, 0.25f);
    }
    physics.move_bike(slot, -0.125f);
  }
}

void cycle_view(MainLoop* loop) {
  switch (loop->mode) {
    case VIEW_FIRST_PERSON:
      loop->mode = g_run_options.editor ? VIEW_EDITOR : VIEW_THIRD_PERSON;
      break;
    case VIEW_EDITOR:
      settle_bikes_onto_ground();
      loop->mode = VIEW_THIRD_PERSON;
      break;
    case VIEW_THIRD_PERSON:
      loop->mode = VIEW_TRACK_CAMERA;
      break;
    case VIEW_TRACK_CAMERA:
      loop->mode = VIEW_FIRST_PERSON;
      break;
    case VIEW_MENU_SCREEN:
      break;
  }
}

void change_viewed_bike(MainLoop* loop, int direction) {
  RaceState race = race_state();
  NetState net = net_state();
  bool allowed = !race.player_riding || (net.connected && !net.server_race_running) || g_config.spy != 0;
  if (!allowed) return;
  int order[MAX_BIKES];
  int count = running_order(order);
  if (count == 0) return;
  int at = -1;
  for (int i = 0; i < count; i++) {
    if (order[i] == loop->viewed_slot) at = i;
  }
  loop->viewed_slot = at < 0 ? order[0] : order[std::clamp(at + direction, 0, count - 1)];
}

void handle_event(MainLoop* loop, const InputEvent& event) {
  const UiHooks& ui = hooks().ui;
  if (event.kind == INPUT_TEXT) {
    if (menu_open() && ui.menu_key) ui.menu_key(event);
    return;
  }
  if (event.kind != INPUT_KEY) return;
  apply_key_event(&loop->keys, event);
  if (event.key == KEY_CURSOR_LEFT) loop->cursor_left_held = event.pressed;
  if (!event.pressed) return;

  bool menu = menu_open();
  if (event.key == KEY_ESC) {
    if (!event.repeat) handle_escape(loop, event, menu);
    return;
  }
  if (menu) {
    if (ui.menu_key) ui.menu_key(event);
    if (menu_open() != menu) loop->menu_changed = true;
    if (!race_state().track_loaded) loop->mode = VIEW_MENU_SCREEN;
    return;
  }
  if (event.key == KEY_CURSOR_LEFT) return;

  // Commands act once per press; auto-repeat only steps, rewinds, skips and
  // walks through the bikes, where holding the key is the point.
  const Binding* b = g_config.bindings;
  const bool first = !event.repeat;
  if (loop->mode != VIEW_EDITOR && binding_pressed(b[BINDING_CHAT], event)) {
    if (first && ui.open_chat) {
      ui.open_chat();
      loop->menu_changed = true;
    }
    return;
  }
  if (loop->mode == VIEW_MENU_SCREEN) return;
  if (loop->mode == VIEW_EDITOR && hooks().editor.key && hooks().editor.key(event)) return;

  if (first && binding_pressed(b[BINDING_PAUSE], event) && !net_state().connected) loop->paused = !loop->paused;
  if (binding_pressed(b[BINDING_STEP], event) && loop->paused) loop->single_step = true;
  if (first && event.key == KEY_TAB) cycle_view(loop);
  if (binding_pressed(b[BINDING_REWIND], event) && hooks().replay.rewind) hooks().replay.rewind();
  if (binding_pressed(b[BINDING_SKIP], event) && hooks().replay.skip) hooks().replay.skip();
  if (binding_pressed(b[BINDING_PREVIOUS_BIKE], event)) change_viewed_bike(loop, -1);
  if (binding_pressed(b[BINDING_NEXT_BIKE], event)) change_viewed_bike(loop, +1);
  if (first && binding_pressed(b[BINDING_SCREENSHOT], event) && loop->mode != VIEW_EDITOR && ui.screenshot) {
    ui.screenshot();
  }
  if (first && event.key >= '0' && event.key <= '9') {
    select_track_camera(&loop->track_cameras, event.key - '0', camera_count());
    // "0" leaves the free camera where the view was.
    if (loop->track_cameras.selected < 0 && loop->have_last_pose) {
      place_free_camera(&loop->track_cameras.free, loop->last_pose);
    }
  }
}

void start_session(const RunOptions& options) {
  std::string track = options.track;
  bool playback = false;
  if (!options.file.empty()) {
    std::string demo_track;
    if (!hooks().replay.load_demo) {
      show_message("Can't play '%.900s': this build has no demo playback\n", options.file.c_str());
    } else if (hooks().replay.load_demo(options.file.c_str(), &demo_track)) {
      playback = true;
      if (!demo_track.empty()) track = demo_track;
    }
  }
  // A demo that could not be loaded leaves the usual start: a robot rides.
  for (int& code : g_start_lineup) code = SLOT_EMPTY;
  if (!playback) g_start_lineup[0] = SLOT_ROBOT;
  if (!track.empty() && hooks().race.reset) {
    hooks().race.reset({track.c_str(), g_start_lineup, playback, 0.0, START_LAPS, g_config.skill});
  }
}

void start_main_loop(MainLoop* loop, const FramePlatform& platform) {
  *loop = MainLoop{};
  loop->mode = VIEW_MENU_SCREEN;
  loop->viewed_slot = NO_BIKE;
  loop->seen_reset_count = race_state().reset_count;
  loop->recording_video = g_run_options.record_video;
  loop->capturing_audio = true;
  make_control_table(&loop->table, g_config.bindings);
  clear_key_state(&loop->keys);
  reset_chase_orbit(&loop->orbit);
  reset_track_cameras(&loop->track_cameras);
  start_frame_clock(&loop->clock, platform.timing.now());
  loop->next_decal_drop = DECAL_MAXIMUM_DECAY_SECONDS;
  if (platform.read_axis) {
    loop->cursor_x = platform.read_axis(AXIS_CURSOR_X);
    loop->cursor_y = platform.read_axis(AXIS_CURSOR_Y);
  }
  if (!hooks().ui.open_main_menu) log_printf("This build has no menus: Esc quits\n");
}

bool run_frame(MainLoop* loop, const FramePlatform& platform) {
  // 1.
  if (loop->quit || (platform.window_closed && platform.window_closed())) return false;

  // 2.
  RaceState race = race_state();
  choose_view_mode(loop, race);
  update_viewed_slot(loop, race);
  NetState net = net_state();
  bool menu = menu_open();

  // 3 to 7: nothing is drawn while the window is minimised or hidden.
  bool drawable = !platform.begin_frame || platform.begin_frame();
  if (drawable && !draw_frame(loop, platform, race, net)) return false;

  // 8.
  sound_step(*loop, platform, race, menu);

  // 9.
  FrameTimingSettings timing = {g_run_options.lock_fps, g_run_options.warp};
  ConnectedClock clock = {net.connected, net.newest_server_tick, net.local_tick, net.gate_drop_tick};
  advance_frame_clock(&loop->clock, timing, clock, platform.timing);
  g_game_clock = loop->clock.game_clock;

  // 10.
  pointer_step(loop, platform);

  // 11.
  double deadline;
  while (begin_fixed_step(&loop->clock, &deadline)) run_step(loop, platform, deadline);

  // 12.
  after_steps(loop);
  loop->frames++;
  return true;
}

void run_main_loop(const FramePlatform& platform) {
  MainLoop* loop = &g_main_loop;
  start_main_loop(loop, platform);
  while (run_frame(loop, platform)) {
  }
  const FrameTimeStats& stats = loop->clock.stats;
  log_printf("Main loop ended after %ld frames and %ld race steps\n", loop->frames, loop->race_steps);
  if (loop->frames > 0) {
    log_printf("Frame slices: shortest %.4f s, longest %.4f s; by steps <1 %ld, <2 %ld, <4 %ld, <8 %ld, <16 %ld, "
               "<32 %ld, more %ld\n",
               stats.shortest, stats.longest, stats.counts[0], stats.counts[1], stats.counts[2], stats.counts[3],
               stats.counts[4], stats.counts[5], stats.counts[6]);
  }
}
