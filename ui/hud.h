// The heads-up display without the drawing: what it shows of the viewed
// bike and the race, gathered from the hook table once per frame, and the
// texts it writes (speed, gear, laps, position, lap times, the statistics
// switches, the orientation line, the suspension graph's read-outs). The
// message lines' visibility lives here too. gl_hud.cpp lays it all out.
//
// The HUD images and how they are read:
//   "!@tach.png"     a square dial; the needle turns about the centre from
//                    TACH_ZERO_ANGLE (0 rpm) clockwise through the top to
//                    TACH_FULL_ANGLE (TACH_FULL_RPM); the red band from the
//                    bike's redline to the end of the scale is drawn on top.
//   "!@shifter.png"  the plate behind the gear letter ("N", "1" .. "6").
//   "!@pitboard.png" a pit board; the HUD chalks position, lap and the
//                    last lap time onto its lower 80 percent.
#pragma once

#include <string>
#include <vector>

#include "core/game_hooks.h"

constexpr double TACH_FULL_RPM = 15000.0;
// Screen angles in radians, measured clockwise from straight up.
constexpr double TACH_ZERO_ANGLE = -2.356194490192345;  // -135 degrees
constexpr double TACH_FULL_ANGLE = 2.356194490192345;   // +135 degrees

// Everything one frame of the HUD shows.
struct HudFrame {
  bool have_bike = false;
  int slot = NO_BIKE;
  BikeView view = {};
  HudBike bike = {};
  bool have_race = false;
  HudRace race = {};
  int position = 0;  // 1-based place in the running order, 0 unknown
  int riders = 0;    // bikes in the running order
  bool connected = false;
  double ping = -1;  // seconds
};

// The hook table's view of the bike in `slot` and of the race.
HudFrame gather_hud(int slot);

// --- texts ------------------------------------------------------------------------

// "1:23.456"; "-:--.---" for a negative (unknown) time.
std::string format_lap_time(int ticks);
// "1st", "2nd", "3rd", "4th", "11th", "12th", "13th", "21st", ...
std::string ordinal(int n);
double speed_mph(const BikeView& view);
std::string gear_text(const HudBike& bike);
// "Lap 2/5", "Lap 3" in a race of open length, "Finished" once over.
std::string lap_text(const HudFrame& frame);
// "3rd of 10", "" with one rider or unknown.
std::string position_text(const HudFrame& frame);
// A timed race: "4:12 left" until the time is up, then "Last laps"; "" else.
std::string time_left_text(const HudFrame& frame);
// The needle's screen angle for an engine speed.
double tach_angle(double rpm);
// Heading, pitch and roll in degrees from the frame's rotation (a bike faces
// -Z in its own frame), with the position: the "--print-orientation" line.
std::string orientation_text(const BikeView& view);

// --- suspension graph -------------------------------------------------------------------

// The last SUSPENSION_TRACE_SAMPLES frames of fork and swingarm travel
// (0 extended .. 1 bottomed) for the "togglegraph" traces.
constexpr int SUSPENSION_TRACE_SAMPLES = 160;
struct SuspensionTrace {
  float fork[SUSPENSION_TRACE_SAMPLES] = {};
  float swingarm[SUSPENSION_TRACE_SAMPLES] = {};
  int count = 0;  // samples held
  int next = 0;   // where the next one goes
};
// A frame's travels, clamped to 0..1 (not-a-number as 0).
void push_suspension_sample(SuspensionTrace* trace, float fork, float swingarm);
// Sample i of the held ones, 0 the oldest.
float suspension_sample(const SuspensionTrace& trace, bool fork, int i);
// "speed -1.25 ft/s  low speed  40%"
std::string suspension_speed_text(float speed, float low_speed_share);

// --- frame rate -----------------------------------------------------------------------

// Frames over the last second of real time ("draw_fps").
struct FrameRate {
  double window_start = -1;
  int frames = 0;
  double fps = 0;
};
void count_frame(FrameRate* rate, double now);

// --- message lines ------------------------------------------------------------------------

// The lines shown now, oldest first: none once the game clock has passed the
// hide time (the count then drops to 0 so the next message starts afresh);
// never more than "message_lines" or the ring holds.
std::vector<std::string> visible_message_lines(double game_clock);
