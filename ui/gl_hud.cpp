// Drawing the heads-up display: the tachometer with the speed and the
// gear, the pitboard, the lap timer, the track map with the riders, the lean
// indicator, the suspension graph, the statistics lines, the results board,
// the message lines, the chat line and the banners.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/command_line.h"
#include "core/config.h"
#include "core/main_loop.h"
#include "core/message.h"
#include "platform/clock.h"
#include "ui/gl_ui.h"
#include "ui/results.h"
#include "ui/ui.h"

namespace {

constexpr Rgba WHITE = {1, 1, 1, 1};
constexpr Rgba SHADE = {0, 0, 0, 0.55f};
constexpr Rgba AMBER = {1.0f, 0.72f, 0.2f, 1};
constexpr Rgba RED = {0.95f, 0.12f, 0.08f, 0.9f};
constexpr Rgba CHALK = {0.97f, 0.97f, 0.92f, 1};
constexpr Rgba GREEN = {0.45f, 1.0f, 0.45f, 1};
constexpr Rgba NEEDLE = {1.0f, 0.5f, 0.0f, 1};
constexpr int MAP_PIXELS = 128;

FrameRate g_frame_rate;

// --- the tachometer, the gear and the speed ---------------------------------------

void draw_dial_face(float cx, float cy, float radius) {
  draw_disc(cx, cy, radius, {0.05f, 0.05f, 0.06f, 0.8f}, 48);
  for (int k = 0; k <= 15; k++) {
    double a = tach_angle(k * 1000.0);
    float s = (float)std::sin(a), c = (float)-std::cos(a);
    float inner = k % 5 == 0 ? 0.78f : 0.86f;
    draw_line(cx + s * radius * inner, cy + c * radius * inner, cx + s * radius * 0.95f, cy + c * radius * 0.95f,
              k % 5 == 0 ? 3.0f : 1.5f, WHITE);
  }
}

void draw_red_band(float cx, float cy, float radius, double redline) {
  if (!(redline > 0) || redline >= TACH_FULL_RPM) return;
  const int steps = 16;
  double a0 = tach_angle(redline), a1 = tach_angle(TACH_FULL_RPM);
  for (int i = 0; i < steps; i++) {
    double s0 = a0 + (a1 - a0) * i / steps, s1 = a0 + (a1 - a0) * (i + 1) / steps;
    float x0 = cx + (float)std::sin(s0) * radius * 0.97f, y0 = cy - (float)std::cos(s0) * radius * 0.97f;
    float x1 = cx + (float)std::sin(s1) * radius * 0.97f, y1 = cy - (float)std::cos(s1) * radius * 0.97f;
    float x2 = cx + (float)std::sin(s1) * radius * 0.88f, y2 = cy - (float)std::cos(s1) * radius * 0.88f;
    float x3 = cx + (float)std::sin(s0) * radius * 0.88f, y3 = cy - (float)std::cos(s0) * radius * 0.88f;
    draw_triangle(x0, y0, x1, y1, x2, y2, RED);
    draw_triangle(x0, y0, x2, y2, x3, y3, RED);
  }
}

void draw_tach(const HudFrame& frame, int width, int height) {
  const UiAssets& a = g_ui_assets;
  float size = height * 0.30f;
  float margin = height * 0.02f;
  float x = width - size - margin, y = height - size - margin;
  float cx = x + size / 2, cy = y + size / 2, radius = size / 2;
  if (a.tach.id) {
    draw_image(a.tach, x, y, size, size, WHITE);
  } else {
    draw_dial_face(cx, cy, radius);
  }
  draw_red_band(cx, cy, radius, frame.bike.redline_rpm);
  double angle = tach_angle(frame.bike.engine_rpm);
  float s = (float)std::sin(angle), c = (float)-std::cos(angle);
  draw_line(cx - s * radius * 0.12f, cy - c * radius * 0.12f, cx + s * radius * 0.84f, cy + c * radius * 0.84f,
            std::max(2.0f, size * 0.018f), NEEDLE);
  draw_disc(cx, cy, size * 0.045f, {0.2f, 0.2f, 0.2f, 1});

  const UiFont& font = a.text;
  char speed[32];
  snprintf(speed, sizeof speed, "%d", (int)std::lround(speed_mph(frame.view)));
  float big = ui_text_size(height) * 1.8f;
  draw_text_shadowed(font, speed, cx, cy + radius * 0.22f, big, WHITE, ALIGN_CENTRE);
  draw_text_shadowed(font, "mph", cx, cy + radius * 0.22f + (float)ui_line_height(font, big) * 0.9f,
                     ui_small_text_size(height), WHITE, ALIGN_CENTRE);

  // The gear plate to the left of the dial's foot.
  float plate = size * 0.34f;
  float px = x - plate * 0.85f, py = y + size - plate;
  if (a.shifter.id) {
    draw_image(a.shifter, px, py, plate, plate, WHITE);
  } else {
    draw_rect(px, py, plate, plate, {0.08f, 0.08f, 0.1f, 0.85f});
    draw_rect_outline(px, py, plate, plate, 2, AMBER);
  }
  std::string gear = gear_text(frame.bike);
  float gear_size = plate * 0.62f;
  draw_text_shadowed(font, gear.c_str(), px + plate / 2, py + (plate - (float)ui_line_height(font, gear_size)) / 2,
                     gear_size, AMBER, ALIGN_CENTRE);
}

// --- the pitboard and the lap timer ----------------------------------------------------

void draw_pitboard(const HudFrame& frame, int width, int height) {
  const UiAssets& a = g_ui_assets;
  float w = height * 0.26f, h = w * 0.75f;
  float x = height * 0.02f, y = height - h - height * 0.02f;
  if (a.pitboard.id) {
    draw_image(a.pitboard, x, y, w, h, WHITE);
  } else {
    draw_rect(x, y, w, h, {0.1f, 0.1f, 0.1f, 0.85f});
    draw_rect_outline(x, y, w, h, 3, {0.85f, 0.85f, 0.85f, 1});
  }
  std::string lines[3];
  if (frame.position > 0 && frame.riders > 1) {
    lines[0] = "P" + std::to_string(frame.position) + "/" + std::to_string(frame.riders);
  } else {
    lines[0] = frame.have_race && frame.race.practice ? "PRACTICE" : frame.have_race && frame.race.time_trial ? "TRIAL" : "";
  }
  std::string lap = lap_text(frame);
  lines[1] = lap.rfind("Lap ", 0) == 0 ? "L" + lap.substr(4) : lap;
  lines[2] = frame.bike.last_lap_ticks >= 0 ? format_lap_time(frame.bike.last_lap_ticks) : "";
  // The board's lower 80 percent takes three chalked lines.
  float top = y + h * 0.2f, line = h * 0.8f / 3;
  for (int i = 0; i < 3; i++) {
    if (lines[i].empty()) continue;
    float size = line * 0.8f;
    while (size > 6 && ui_text_width(a.text, lines[i].c_str(), size) > w * 0.9) size *= 0.9f;
    draw_text(a.text, lines[i].c_str(), x + w / 2, top + line * i + (line - (float)ui_line_height(a.text, size)) / 2,
              size, CHALK, ALIGN_CENTRE);
  }
}

void draw_lap_timer(const HudFrame& frame, int width, int height) {
  const UiFont& font = g_ui_assets.text;
  float size = ui_text_size(height) * 1.5f;
  float cx = width / 2.0f, y = height * 0.015f;
  bool before_drop = frame.have_race && frame.race.tick < frame.race.gate_drop_tick;
  std::string now = before_drop ? "Wait for the gate" : format_lap_time(std::max(0, frame.bike.lap_ticks));
  if (frame.bike.finished) now = "Finished " + (frame.position > 0 ? ordinal(frame.position) : std::string());
  if (frame.bike.crashed) now = "Crashed";
  draw_text_shadowed(font, now.c_str(), cx, y, size, WHITE, ALIGN_CENTRE);
  y += (float)ui_line_height(font, size);
  float small = ui_small_text_size(height);
  std::string best = "Best " + format_lap_time(frame.bike.best_lap_ticks);
  std::string left = time_left_text(frame);
  if (!left.empty()) best += "   " + left;
  std::string place = position_text(frame);
  if (!place.empty()) best = place + "   " + best;
  draw_text_shadowed(font, best.c_str(), cx, y, small, AMBER, ALIGN_CENTRE);
}

// --- the track map ------------------------------------------------------------------------

void paint_map(float size_x, float size_z) {
  Image image;
  init_image(&image, MAP_PIXELS, MAP_PIXELS, 4);
  auto height_at = [&](int i, int j) {
    float x = (i + 0.5f) / MAP_PIXELS * size_x, z = (j + 0.5f) / MAP_PIXELS * size_z;
    return g_game_hooks.world.ground_height ? g_game_hooks.world.ground_height(x, z) : 0.0f;
  };
  std::vector<float> h((size_t)MAP_PIXELS * MAP_PIXELS);
  float lo = 1e30f, hi = -1e30f;
  for (int j = 0; j < MAP_PIXELS; j++)
    for (int i = 0; i < MAP_PIXELS; i++) {
      float v = height_at(i, j);
      if (!std::isfinite(v)) v = 0;
      h[(size_t)j * MAP_PIXELS + i] = v;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  float cell = size_x / MAP_PIXELS;
  for (int j = 0; j < MAP_PIXELS; j++)
    for (int i = 0; i < MAP_PIXELS; i++) {
      float v = h[(size_t)j * MAP_PIXELS + i];
      float east = h[(size_t)j * MAP_PIXELS + std::min(i + 1, MAP_PIXELS - 1)];
      float south = h[(size_t)std::min(j + 1, MAP_PIXELS - 1) * MAP_PIXELS + i];
      // Light from the north-west: slopes facing it are lighter.
      float shade = std::clamp(0.6f + ((v - east) + (v - south)) / std::max(cell, 1e-3f) * 0.35f, 0.15f, 1.0f);
      float t = hi > lo ? (v - lo) / (hi - lo) : 0.5f;
      uint8_t* p = &image.pixels[((size_t)j * MAP_PIXELS + i) * 4];
      p[0] = (uint8_t)std::clamp((90 + 90 * t) * shade, 0.0f, 255.0f);
      p[1] = (uint8_t)std::clamp((75 + 60 * t) * shade, 0.0f, 255.0f);
      p[2] = (uint8_t)std::clamp((55 + 30 * t) * shade, 0.0f, 255.0f);
      p[3] = 170;
    }
  UiAssets& a = g_ui_assets;
  if (a.map.id) {
    update_ui_texture(&a.map, image);
  } else {
    a.map = upload_ui_texture(image);
  }
}

void draw_track_map(const HudFrame& frame, int width, int height) {
  if (!g_game_hooks.world.track_map) return;
  float size_x = 0, size_z = 0;
  static std::vector<Vec3> course;
  if (!g_game_hooks.world.track_map(&size_x, &size_z, &course) || !(size_x > 0) || !(size_z > 0)) return;
  RaceState race = {};
  if (g_game_hooks.race.state) g_game_hooks.race.state(&race);
  UiAssets& a = g_ui_assets;
  if (a.map_reset != race.reset_count || !a.map.id) {
    paint_map(size_x, size_z);
    a.map_reset = race.reset_count;
  }
  float side = std::min(height * 0.28f * std::clamp(g_config.map_scale, 0.125f, 8.0f), height * 0.6f);
  float w = side, h = side;
  if (size_x > size_z) h = side * size_z / size_x; else w = side * size_x / size_z;
  float x = width - w - height * 0.02f, y = height * 0.02f;
  draw_image(a.map, x, y, w, h, WHITE);
  draw_rect_outline(x, y, w, h, 1, {1, 1, 1, 0.5f});
  auto to_screen = [&](const Vec3& p, float* sx, float* sy) {
    *sx = x + std::clamp(p.x / size_x, 0.0f, 1.0f) * w;
    *sy = y + std::clamp(p.z / size_z, 0.0f, 1.0f) * h;
  };
  for (size_t i = 0; course.size() > 1 && i < course.size(); i++) {  // a closed loop
    float x0, y0, x1, y1;
    to_screen(course[i], &x0, &y0);
    to_screen(course[(i + 1) % course.size()], &x1, &y1);
    draw_line(x0, y0, x1, y1, std::max(2.0f, side * 0.012f), {1, 1, 1, 0.75f});
  }
  if (!g_game_hooks.race.bike) return;
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    BikeView view = {};
    if (slot == frame.slot || !g_game_hooks.race.bike(slot, &view)) continue;
    float sx, sy;
    to_screen(view.position, &sx, &sy);
    draw_disc(sx, sy, std::max(2.5f, side * 0.015f), {0.2f, 0.6f, 1.0f, 1}, 10);
  }
  if (frame.have_bike) {
    float sx, sy;
    to_screen(frame.view.position, &sx, &sy);
    draw_disc(sx, sy, std::max(4.0f, side * 0.025f), {0, 0, 0, 1}, 12);
    draw_disc(sx, sy, std::max(3.0f, side * 0.019f), {1.0f, 0.85f, 0.1f, 1}, 12);
  }
}

// --- the lean indicator and the suspension graph ------------------------------------------

void draw_lean_indicator(const HudFrame& frame, int width, int height) {
  if (!g_bike_setup.lean_indicator) return;
  // Left of the gear plate, which sits left of the dial.
  float h = height * 0.22f, w = height * 0.018f;
  float x = width - height * (0.32f + 0.30f * 0.34f * 0.85f) - w * 4, y = height - h - height * 0.06f;
  draw_rect(x, y, w, h, SHADE);
  draw_rect(x - w * 0.3f, y + h / 2 - 1, w * 1.6f, 2, {1, 1, 1, 0.6f});
  float lean = std::isfinite(frame.bike.lean) ? std::clamp(frame.bike.lean, -1.0f, 1.0f) : 0.0f;
  float my = y + h / 2 + lean * h / 2;  // forward (-1) is up
  draw_rect(x - w * 0.4f, my - w * 0.35f, w * 1.8f, w * 0.7f, GREEN);
  draw_text_shadowed(g_ui_assets.text, "Lean", x + w / 2, y + h + 2, ui_small_text_size(height) * 0.8f, WHITE,
                     ALIGN_CENTRE);
}

SuspensionTrace g_suspension_trace;

// Fork and swingarm travel over the last frames as two traces, each with its
// damper speed and the low-speed share of the damping now.
void draw_suspension_graph(const HudFrame& frame, int width, int height) {
  if (!g_ui.suspension_graph) {
    g_suspension_trace = SuspensionTrace{};  // a new graph starts empty
    return;
  }
  push_suspension_sample(&g_suspension_trace, frame.bike.fork_position, frame.bike.swingarm_position);
  const UiFont& font = g_ui_assets.mono;
  float size = ui_small_text_size(height);
  float line = (float)ui_line_height(font, size);
  float x = height * 0.02f, y = height * 0.30f, w = std::min(height * 0.62f, width * 0.45f);
  float plot_h = line * 2.2f;
  float row_h = plot_h + line * 2.4f;
  draw_rect(x, y, w, row_h * 2 + line * 0.3f, SHADE);
  struct Row {
    const char* label;
    bool fork;
    float position, speed, share;
    Rgba colour;
  } rows[2] = {{"Fork", true, frame.bike.fork_position, frame.bike.fork_speed, frame.bike.fork_low_speed_share, AMBER},
               {"Shock", false, frame.bike.swingarm_position, frame.bike.shock_speed,
                frame.bike.shock_low_speed_share, GREEN}};
  for (const Row& row : rows) {
    float ry = y + line * 0.3f + (row.fork ? 0.0f : row_h);
    char text[128];
    snprintf(text, sizeof text, "%s travel %3.0f%%", row.label, std::clamp(row.position, 0.0f, 1.0f) * 100.0f);
    draw_text(font, text, x + 6, ry, size, WHITE);
    // The plot: extended at the top, bottomed at the bottom, newest on the right.
    float px = x + 6, py = ry + line, pw = w - 12;
    draw_rect(px, py, pw, plot_h, {1, 1, 1, 0.12f});
    draw_rect(px, py + plot_h * 0.5f, pw, 1, {1, 1, 1, 0.2f});
    int n = g_suspension_trace.count;
    float step = pw / (float)(SUSPENSION_TRACE_SAMPLES - 1);
    float x0 = px + pw - step * (float)(n - 1);
    for (int i = 1; i < n; i++) {
      float a = suspension_sample(g_suspension_trace, row.fork, i - 1);
      float b = suspension_sample(g_suspension_trace, row.fork, i);
      draw_line(x0 + step * (float)(i - 1), py + a * plot_h, x0 + step * (float)i, py + b * plot_h, 2, row.colour);
    }
    draw_text(font, suspension_speed_text(row.speed, row.share).c_str(), px, py + plot_h + line * 0.15f, size, WHITE);
  }
}

// --- statistics --------------------------------------------------------------------------------

void draw_statistics(const HudFrame& frame, int width, int height) {
  std::vector<std::string> lines;
  count_frame(&g_frame_rate, platform_seconds());
  char text[128];
  if (g_config.draw_fps) {
    // Nothing to tell until a whole second has been counted.
    if (g_frame_rate.fps > 0) {
      snprintf(text, sizeof text, "%.0f fps", g_frame_rate.fps);
    } else {
      snprintf(text, sizeof text, "-- fps");
    }
    lines.push_back(text);
  }
  if (g_config.draw_time) {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(text, sizeof text, "%H:%M:%S", &local);
    lines.push_back(text);
  }
  if (g_config.draw_ping && frame.connected) {
    if (frame.ping >= 0) {
      snprintf(text, sizeof text, "Ping %d ms", (int)std::lround(frame.ping * 1000.0));
    } else {
      snprintf(text, sizeof text, "Ping --");
    }
    lines.push_back(text);
  }
  if (g_run_options.draw_render_stats && g_game_hooks.render.stats) g_game_hooks.render.stats(&lines);
  if (g_run_options.print_orientation && frame.have_bike) lines.push_back(orientation_text(frame.view));
  if (lines.empty()) return;
  const UiFont& font = g_ui_assets.mono;
  float size = ui_small_text_size(height) * 0.9f;
  float line = (float)ui_line_height(font, size);
  float y = height * 0.62f;
  for (const std::string& l : lines) {
    draw_text_shadowed(font, l.c_str(), width * 0.5f, y, size, WHITE, ALIGN_CENTRE);
    y += line;
  }
}

bool results_wanted(const HudFrame& frame, const ResultsBoard& board) {
  if (board.rows.empty()) return false;
  return board.title == "Final Results" || frame.bike.finished;
}

}  // namespace

float ui_text_size(int height) { return std::clamp(height / 30.0f, 12.0f, 48.0f); }
float ui_small_text_size(int height) { return std::clamp(height / 40.0f, 10.0f, 36.0f); }

void draw_hud_frame(int slot, int width, int height) {
  HudFrame frame = gather_hud(slot);
  if (frame.have_bike) {
    draw_tach(frame, width, height);
    draw_pitboard(frame, width, height);
    draw_lap_timer(frame, width, height);
    draw_lean_indicator(frame, width, height);
    draw_suspension_graph(frame, width, height);
  }
  draw_track_map(frame, width, height);
  draw_statistics(frame, width, height);
  ResultsBoard board = current_results_board();
  if (results_wanted(frame, board)) draw_results_board(slot, width, height);
}

void draw_results_board(int viewed_slot, int width, int height) {
  ResultsBoard board = current_results_board();
  if (board.rows.empty()) return;
  const UiFont& font = g_ui_assets.mono;
  float size = ui_small_text_size(height);
  float line = (float)ui_line_height(font, size);
  // Below the lap timer and the map, above the dials.
  float x0 = height * 0.02f, y = height * 0.33f;
  int penalties = std::min((int)board.penalties.size(), 6);
  int shown = std::clamp((int)(height * 0.62f / line) - 3 - penalties, 1, (int)board.rows.size());
  float w = std::min(width - 2 * x0, (float)ui_text_width(font, "M", size) * 76);
  float h = line * (shown + 3 + penalties) + line;
  float x = (width - w) / 2;
  draw_rect(x, y, w, h, {0.03f, 0.04f, 0.06f, 0.85f});
  draw_rect(x, y, w, 3, {1.0f, 0.55f, 0.12f, 0.9f});
  draw_text(g_ui_assets.text, board.title.c_str(), x + w / 2, y + line * 0.3f, size * 1.2f, WHITE, ALIGN_CENTRE);
  float ty = y + line * 1.8f;
  // Columns in character cells of the fixed-pitch face.
  const float cell = (float)ui_text_width(font, "M", size);
  const float cols[7] = {1, 5, 10, 33, 49, 55, 65};
  const char* heads[7] = {"Pos", "No.", "Rider", "Bike", "Laps", "Time", "Best Lap"};
  for (int c = 0; c < 7; c++) draw_text(font, heads[c], x + cols[c] * cell, ty, size, AMBER);
  ty += line;
  for (int i = 0; i < shown; i++) {
    const ResultsRow& r = board.rows[(size_t)i];
    std::string name = r.name.substr(0, 22), bike = r.bike.substr(0, 15);
    const std::string* fields[7] = {&r.place, &r.number, &name, &bike, &r.laps, &r.time, &r.best_lap};
    bool viewed = r.slot == viewed_slot;
    if (viewed) draw_rect(x + 2, ty, w - 4, line, {1.0f, 0.55f, 0.12f, 0.35f});
    for (int c = 0; c < 7; c++) draw_text(font, fields[c]->c_str(), x + cols[c] * cell, ty, size, WHITE);
    ty += line;
  }
  for (int i = 0; i < penalties; i++) {
    draw_text(font, board.penalties[(size_t)i].c_str(), x + cell, ty, size, {1.0f, 0.5f, 0.4f, 1});
    ty += line;
  }
}

void draw_message_lines(int width, int height) {
  std::vector<std::string> lines = visible_message_lines(g_game_clock);
  if (lines.empty()) return;
  const UiFont& font = g_ui_assets.text;
  float size = ui_small_text_size(height);
  float line = (float)ui_line_height(font, size);
  float y = height * 0.01f;
  for (const std::string& l : lines) {
    draw_text_shadowed(font, l.c_str(), height * 0.015f, y, size, WHITE);
    y += line;
  }
}

void draw_chat_line(int width, int height) {
  const ChatLine& chat = g_ui.chat;
  if (!chat.open) return;
  const UiFont& font = g_ui_assets.mono;
  float size = ui_small_text_size(height);
  float line = (float)ui_line_height(font, size);
  float x = height * 0.015f, y = height * 0.62f;
  draw_rect(0, y - 2, (float)width, line + 4, {0, 0, 0, 0.6f});
  const char* prompt = "Say: ";
  float px = x + (float)draw_text(font, prompt, x, y, size, AMBER);
  draw_text(font, chat.text.c_str(), px, y, size, WHITE);
  if (std::fmod(platform_seconds(), 1.0) < 0.6) {
    float caret = px + (float)ui_text_width(font, chat.text.substr(0, chat.caret).c_str(), size);
    draw_rect(caret, y + 1, 2, line - 2, WHITE);
  }
}

void draw_title(int width, int height) {
  const UiTexture& title = g_ui_assets.title;
  if (!title.id) return;
  // Fills the window, keeping the picture's proportions.
  float scale = std::max(width / (float)title.width, height / (float)title.height);
  float w = title.width * scale, h = title.height * scale;
  draw_image(title, (width - w) / 2, (height - h) / 2, w, h, WHITE);
}
