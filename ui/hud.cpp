#include "ui/hud.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/config.h"
#include "core/message.h"

namespace {

constexpr double DEGREES_PER_RADIAN = 57.29577951308232;
// Above this the race has no lap limit worth showing (a time-limited race
// keeps its lap total open until the time is up).
constexpr int OPEN_LAP_TOTAL = 100000;

}  // namespace

HudFrame gather_hud(int slot) {
  HudFrame frame;
  const GameHooks& hooks = g_game_hooks;
  if (hooks.race.hud_race && hooks.race.hud_race(&frame.race)) frame.have_race = true;
  NetState net = {};
  if (hooks.net.state) hooks.net.state(&net);
  frame.connected = net.connected;
  if (frame.connected && hooks.net.ping) frame.ping = hooks.net.ping();
  if (slot < 0 || slot >= MAX_BIKES) return frame;
  frame.slot = slot;
  frame.view.gate = -1;
  if (hooks.race.bike && hooks.race.bike(slot, &frame.view)) frame.have_bike = true;
  frame.bike.best_lap_ticks = frame.bike.last_lap_ticks = -1;
  if (hooks.race.hud_bike && !hooks.race.hud_bike(slot, &frame.bike)) frame.bike = HudBike{};
  if (hooks.race.running_order) {
    int order[MAX_BIKES];
    int count = std::clamp(hooks.race.running_order(order), 0, MAX_BIKES);
    frame.riders = count;
    for (int i = 0; i < count; i++)
      if (order[i] == slot) frame.position = i + 1;
  }
  return frame;
}

std::string format_lap_time(int ticks) {
  if (ticks < 0) return "-:--.---";
  long ms = std::lround(ticks * TICK_SECONDS * 1000.0);
  char text[32];
  snprintf(text, sizeof text, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
  return text;
}

std::string ordinal(int n) {
  const char* suffix = "th";
  int tens = n % 100;
  if (tens < 11 || tens > 13) {
    if (n % 10 == 1) suffix = "st";
    if (n % 10 == 2) suffix = "nd";
    if (n % 10 == 3) suffix = "rd";
  }
  return std::to_string(n) + suffix;
}

double speed_mph(const BikeView& view) {
  const Vec3& v = view.velocity;
  double speed = std::sqrt((double)v.x * v.x + (double)v.y * v.y + (double)v.z * v.z);
  return std::isfinite(speed) ? speed / FEET_PER_SECOND_PER_MPH : 0.0;
}

std::string gear_text(const HudBike& bike) { return bike.gear <= 0 ? "N" : std::to_string(bike.gear); }

std::string lap_text(const HudFrame& frame) {
  if (frame.bike.finished) return "Finished";
  int lap = frame.bike.laps_completed + 1;
  // Practice rides on until the rider stops: its lap count is no target.
  int total = frame.have_race && !frame.race.practice ? frame.race.lap_total : 0;
  if (total > 0 && total < OPEN_LAP_TOTAL) {
    char text[48];
    snprintf(text, sizeof text, "Lap %d/%d", std::min(lap, total), total);
    return text;
  }
  return "Lap " + std::to_string(lap);
}

std::string position_text(const HudFrame& frame) {
  if (frame.position <= 0 || frame.riders <= 1) return "";
  return ordinal(frame.position) + " of " + std::to_string(frame.riders);
}

std::string time_left_text(const HudFrame& frame) {
  if (!frame.have_race || frame.race.time_limit_ticks <= 0) return "";
  int left = frame.race.gate_drop_tick + frame.race.time_limit_ticks - frame.race.tick;
  if (left <= 0) return "Last laps";
  left = std::min(left, frame.race.time_limit_ticks);
  int seconds = (left + TICKS_PER_SECOND - 1) / TICKS_PER_SECOND;
  char text[32];
  snprintf(text, sizeof text, "%d:%02d left", seconds / 60, seconds % 60);
  return text;
}

double tach_angle(double rpm) {
  double t = std::isfinite(rpm) ? std::clamp(rpm / TACH_FULL_RPM, 0.0, 1.0) : 0.0;
  return TACH_ZERO_ANGLE + t * (TACH_FULL_ANGLE - TACH_ZERO_ANGLE);
}

std::string orientation_text(const BikeView& view) {
  const float* m = view.rotation;  // row-major, body to world
  // The bike's forward axis is -Z of its frame: the third column, negated.
  double fx = -m[2], fy = -m[5], fz = -m[8];
  // The heading the race places bikes with: forward = (sin h, 0, cos h).
  double heading = std::atan2(fx, fz) * DEGREES_PER_RADIAN;
  double pitch = std::asin(std::clamp(fy, -1.0, 1.0)) * DEGREES_PER_RADIAN;
  // Roll: how far the frame's X axis (the axles) tips out of the horizontal.
  double roll = std::asin(std::clamp((double)m[3], -1.0, 1.0)) * DEGREES_PER_RADIAN;
  // Adding 0.0 turns -0 into 0, so a level bike never reads "pitch -0.0".
  heading += 0.0, pitch += 0.0, roll += 0.0;
  if (std::fabs(pitch) < 0.05) pitch = 0.0;
  if (std::fabs(roll) < 0.05) roll = 0.0;
  char text[160];
  snprintf(text, sizeof text, "pos (%.2f, %.2f, %.2f)  heading %.1f  pitch %.1f  roll %.1f", view.position.x,
           view.position.y, view.position.z, heading, pitch, roll);
  return text;
}

void count_frame(FrameRate* rate, double now) {
  if (rate->window_start < 0 || now < rate->window_start) {
    rate->window_start = now;
    rate->frames = 0;
  }
  rate->frames++;
  double span = now - rate->window_start;
  if (span >= 1.0) {
    rate->fps = (rate->frames - 1) / span;
    rate->window_start = now;
    rate->frames = 1;
  }
}

std::vector<std::string> visible_message_lines(double game_clock) {
  std::vector<std::string> lines;
  if (game_clock >= g_messages.hide_time) {
    g_messages.visible = 0;
    return lines;
  }
  int limit = std::clamp(g_message_line_limit, 0, MESSAGE_RING_LINES);
  int count = std::min({g_messages.visible, limit, g_messages.total});
  for (int age = count - 1; age >= 0; age--) {
    const char* line = message_line(age);
    if (!line) continue;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    lines.push_back(text);
  }
  return lines;
}

void push_suspension_sample(SuspensionTrace* trace, float fork, float swingarm) {
  auto unit = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; };
  trace->fork[trace->next] = unit(fork);
  trace->swingarm[trace->next] = unit(swingarm);
  trace->next = (trace->next + 1) % SUSPENSION_TRACE_SAMPLES;
  trace->count = std::min(trace->count + 1, SUSPENSION_TRACE_SAMPLES);
}

float suspension_sample(const SuspensionTrace& trace, bool fork, int i) {
  if (i < 0 || i >= trace.count) return 0.0f;
  int at = (trace.next - trace.count + i + SUSPENSION_TRACE_SAMPLES) % SUSPENSION_TRACE_SAMPLES;
  return fork ? trace.fork[at] : trace.swingarm[at];
}

std::string suspension_speed_text(float speed, float low_speed_share) {
  char text[96];
  float share = std::isfinite(low_speed_share) ? std::clamp(low_speed_share, 0.0f, 1.0f) : 0.0f;
  snprintf(text, sizeof text, "speed %+.2f ft/s  low speed %3.0f%%", std::isfinite(speed) ? speed : 0.0f,
           share * 100.0f);
  return text;
}
