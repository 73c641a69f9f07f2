// The seam between the game shell (start-up steps 17-20, the main loop and
// the shutdown) and the subsystems it drives: race flow with the bikes behind
// it, the bike physics, the loaded track, the renderer, the user interface, engine sound, the
// replay, the network client, the track editor and the points series.
//
// One table, one section per subsystem. Each subsystem fills its own section
// when the game executable installs it; the headless tools and the tests fill
// what they need. Every entry may be null and the shell then does without it:
// no bike, no menus (Esc quits), a cleared screen, silence, no demos.
//
// The shell only ever talks to the subsystems through this table, and the
// subsystems see the shell's state through g_main_loop (core/main_loop.h).
#pragma once

#include <string>
#include <vector>

#include "core/controls.h"
#include "core/types.h"
#include "platform/input.h"

// The five views of the loop.
enum ViewMode : int {
  VIEW_FIRST_PERSON,   // from the viewed bike's rider (the default while riding)
  VIEW_THIRD_PERSON,   // the chase camera
  VIEW_TRACK_CAMERA,   // the track's cameras, or the free camera
  VIEW_EDITOR,         // only with "--editor"
  VIEW_MENU_SCREEN,    // no track loaded: the title screen behind the menus
};

// --- race flow -------------------------------------------------------------------

// What the shell needs to know about the race, asked for once per frame and
// again where a step may have changed it.
struct RaceState {
  bool track_loaded;
  int player_slot;     // the player's bike, NO_BIKE when the player has none
  bool player_riding;  // the player's bike is under local control and in the race
  bool player_racing;  // riding and not yet finished: the controls reach the bike
  bool time_trial;     // a time-trial attempt is running
  bool race_over;      // the leader's completed laps reached the race's lap total
  double minutes;      // length of the current race, for the warp restart
  int laps;
  unsigned reset_count;  // advanced by every race reset
  long long tick;            // race steps since the reset (texture animations, the gate drop)
  long long gate_drop_tick;  // the step the starting gates fall at; -1 while none is due
};

// One bike as the cameras, the sound step and the HUD see it. The rotation
// is the frame body's, row-major, body to world (a bike faces -Z in its own
// frame).
struct BikeView {
  Vec3 position;
  float rotation[9];
  Vec3 velocity;
  float clutch_engagement;  // 0 slipping .. 1 engaged
  int gate;                 // the timing gate it passed last, -1 before the first
  const char* status_line;  // the rider's status for the track-camera view; null or "" for none
  bool has_sound;           // the bike has an engine sound state
  bool skipping;            // its replay is being skipped (no sound)
  bool ghost;               // a lap's ghost: drawn see-through, fading out near the player
};

// A race reset: the 160-entry start lineup (codes of the "slot" settings,
// 0 = empty, 2 = robot ...), on the track named (null: the loaded one).
struct RaceReset {
  const char* track;
  const int* lineup;
  bool playback;   // a demo file plays
  double minutes;  // 0: a lap race
  int laps;
  int skill;       // SKILL_*
};

// What the heads-up display shows of one bike, filled by the race for the
// viewed bike each frame. Times are ticks; -1 means "none yet".
struct HudBike {
  float engine_rpm;
  float redline_rpm;    // where the tachometer's red band starts
  int gear;             // 0 neutral, 1.. the gears
  int gear_count;
  int laps_completed;
  int lap_ticks;        // time on the lap being ridden
  int last_lap_ticks;
  int best_lap_ticks;
  float lean;           // rider lean, -1 full forward .. +1 full back
  bool finished;        // took the chequered flag
  bool crashed;         // the rider is off the bike
  // Suspension read-outs: positions 0 extended .. 1 compressed, speeds in
  // ft/s of the fork and the shock, low-speed shares 0..1.
  float fork_position, fork_speed, fork_low_speed_share;
  float swingarm_position, shock_speed, shock_low_speed_share;
  const char* name;     // rider name, null for none
  const char* number;   // race number
  const char* bike;     // bike model name
};

// The race as the HUD and the results board see it.
struct HudRace {
  int tick;             // the race clock
  int gate_drop_tick;
  int lap_total;        // laps of the race (a huge number while open)
  int time_limit_ticks; // 0: a lap race
  bool practice;
  bool time_trial;
  bool playback;        // a demo plays
};

// One line of the results board, in result order.
struct ResultsEntry {
  int slot;
  const char* number;
  const char* name;
  const char* bike;
  int laps;
  int total_ticks;      // gate drop to its last gate, penalty included
  int best_lap;         // number of its best lap, 0 for none
  int best_lap_ticks;
  int penalty_ticks;    // charged for cutting the track
  int laps_taken;       // laps taken away for cutting
  bool finished;
};

struct RaceHooks {
  void (*state)(RaceState* out);
  // False for an empty slot.
  bool (*bike)(int slot, BikeView* out);
  // The bike itself, for drawing it from its bodies' poses; null for an
  // empty slot.
  const struct Bike* (*bike_body)(int slot);
  // The running order: fills slots[0..count-1] (at most MAX_BIKES), leader first.
  int (*running_order)(int slots[MAX_BIKES]);
  // Empties the bike slots, loads the track when it is another one and
  // starts the race with the lineup.
  void (*reset)(const RaceReset& reset);
  // One race step of 1/128 s: every bike, the physics world, the gates.
  void (*step)();
  // The player's control vector, once per step while the player's bike races.
  void (*apply_controls)(const BikeControls& controls);
  // Time trial: the back-up control aborts the attempt.
  void (*restart_attempt)();
  // Shutdown: the race with its bikes.
  void (*free_race)();
  // The HUD's read-outs; false for an empty slot.
  bool (*hud_bike)(int slot, HudBike* out);
  bool (*hud_race)(HudRace* out);
  // The results board: fills entries (at most MAX_BIKES) and says whether
  // they are final. 0 while no race has results to show.
  int (*results)(ResultsEntry* entries, bool* final);
  // Leaving a setup menu: the player's bike takes the edited setup.
  void (*apply_setup)();
};

// --- bike physics ----------------------------------------------------------------------

struct PhysicsHooks {
  // Start-up step 18: the rigid-body world and the collision space, which
  // live for the whole run; freed after the race at shutdown.
  void (*create_world)();
  void (*free_world)();
  // Leaving the editor: a bike is moved up (dy > 0) or down, and asked
  // whether it now collides with the ground or an object.
  void (*move_bike)(int slot, float dy);
  bool (*bike_collides)(int slot);
};

// --- the loaded track ----------------------------------------------------------------

struct TrackCameraRecord {
  Vec3 position;
  float fov;            // degrees
  float auto_fov_size;  // > 0: the view is this wide at the bike's distance
};

struct WorldHooks {
  // Ground height at (x, z).
  float (*ground_height)(float x, float z);
  int (*camera_count)();
  bool (*camera)(int index, TrackCameraRecord* out);
  // The camera that covers the track after a timing gate, -1 for none.
  int (*camera_for_gate)(int gate);
  // The terrain's per-frame work (deformation refresh), outside the menu screen.
  void (*terrain_frame)();
  // Shutdown: frees the loaded track.
  void (*free_track)();
  // The track map: the terrain's extent and the course as the centres of
  // its timing gates in riding order. False without a track.
  bool (*track_map)(float* size_x, float* size_z, std::vector<Vec3>* course);
};

// --- rendering -----------------------------------------------------------------------

// What one frame shows. In the first-person view the renderer places the eye
// at the viewed rider itself; the other views come with their camera.
struct ViewSetup {
  ViewMode mode;
  int width, height;  // drawable pixels
  float fov;          // vertical field of view in degrees for the projection
  int viewed_slot;    // NO_BIKE when there is no bike to look at
  Vec3 eye, target;   // third-person and track-camera views
  bool paused;
};

struct RenderHooks {
  // Start-up step 16, once the context exists: probes the GL's capabilities
  // and extensions, builds the shader programs, chooses the terrain methods
  // and takes over the texture uploads.
  void (*start_gl)();
  // Sets the projection for the size and field of view and draws the view
  // (the title screen on the menu screen). Null: the frame is cleared.
  void (*draw_view)(const ViewSetup& view);
  // Shutdown: textures, images and models.
  void (*free)();
  // "--draw-render-stats": lines of counters for the HUD.
  void (*stats)(std::vector<std::string>* lines);
};

// --- user interface -----------------------------------------------------------------

// The pointer for the menus: raw "cursor-x" and "cursor-y" values
// (-32768 at the left or top edge .. 32767 at the right or bottom edge).
struct MenuPointer {
  int x, y;
  bool drag;  // the left button is held and the pointer moved since the last frame
};

struct UiHooks {
  // Start-up step 17: fonts, "!@tach.png", "!@shifter.png", "!@pitboard.png"
  // and the title "!@title.png".
  void (*load_assets)();
  // True while a menu (or the chat line) holds the keyboard.
  bool (*menu_open)();
  void (*open_main_menu)();
  void (*close_menu)();
  // Every key-down while a menu is open, and every typed-text event.
  void (*menu_key)(const InputEvent& event);
  // Once per frame while a menu is open: hover, or drag with the button held.
  void (*menu_pointer)(const MenuPointer& pointer);
  void (*open_chat)();
  void (*screenshot)();
  // The heads-up display for the viewed bike (honours its own switches).
  void (*draw_hud)(int slot);
  // White text centred across the screen, `below_top` units below the top,
  // at a text scale (0: the usual size).
  void (*draw_banner)(const char* text, float below_top, float scale);
  // The menus and the message lines, last thing before the swap.
  void (*draw_menus)();
  // Shutdown: fonts and HUD images.
  void (*free)();
};

// --- engine sound ---------------------------------------------------------------------

struct SoundHooks {
  // One frame of a bike's engine sound into the mixer at the given loudness
  // (0 silences it). The platform then takes the mixed block.
  void (*produce)(int slot, float loudness);
  void (*free)();
};

// --- replay ---------------------------------------------------------------------------

struct ReplayHooks {
  // Start-up step 19: loads the demo file argument for playback; on success
  // *track names the demo's track.
  bool (*load_demo)(const char* file, std::string* track);
  void (*rewind)();
  void (*skip)();
};

// --- network client ------------------------------------------------------------------

struct NetState {
  bool connected;
  bool server_race_running;    // false during warmup
  bool first_server_tick_seen; // the race steps wait for the server's clock
  int newest_server_tick;
  int local_tick;
  int gate_drop_tick;
};

struct NetHooks {
  void (*state)(NetState* out);
  // The multiplayer menu: connect to a server (the name as typed), or leave.
  void (*connect)(const char* server, const char* password);
  // A finished chat line: chat for the server, or a "/" or "\" command.
  void (*console_line)(const char* line);
  // Round-trip time to the server in seconds for "draw_ping", < 0 unknown.
  double (*ping)();
  // Once per step, before the race step.
  void (*step)();
  // Shutdown step 1: the disconnect message and closing the socket.
  void (*disconnect)();
  // The console's keyframe camera ("togglekeycam"): where it is now and
  // what it looks at; false while it is off or has no keyframes.
  bool (*keyframe_camera)(Vec3* eye, Vec3* target);
};

// --- track editor ----------------------------------------------------------------------

struct EditorHooks {
  // A key-down in the editor view; true when the editor took it.
  bool (*key)(const InputEvent& event);
  // One step of the editor while its view is shown.
  void (*step)();
};

// --- points series ------------------------------------------------------------------

// One series as its menu shows it.
struct SeriesView {
  std::string name;
  std::string next_event;  // empty once every event is done
  std::vector<std::string> standings;  // one line per rider, best first
};

struct SeriesHooks {
  int (*count)();
  bool (*view)(int series, SeriesView* out);
  // Starts the race of the series' next event with its settings.
  bool (*start_next_event)(int series);
};

struct GameHooks {
  RaceHooks race;
  PhysicsHooks physics;
  WorldHooks world;
  RenderHooks render;
  UiHooks ui;
  SoundHooks sound;
  ReplayHooks replay;
  NetHooks net;
  EditorHooks editor;
  SeriesHooks series;
};

extern GameHooks g_game_hooks;
