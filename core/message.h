// Message lines: the one way every subsystem reports to the player. Each
// message is logged and copied into a ring of 1000 lines that the HUD shows.
#pragma once

constexpr int MESSAGE_RING_LINES = 1000;
constexpr int MESSAGE_LINE_CHARS = 128;

struct MessageLines {
  char text[MESSAGE_RING_LINES][MESSAGE_LINE_CHARS];
  int newest;        // ring index of the newest line, -1 before the first
  int total;         // lines added since the last clear
  int visible;       // lines currently shown, up to the configured count
  double hide_time;  // game clock (seconds) at which the lines are hidden
};

extern MessageLines g_messages;
// Seconds of game time; advanced by the main loop with the simulation target.
extern double g_game_clock;
// How many lines may be visible at once (the "message_lines" setting).
extern int g_message_line_limit;

void clear_message_lines();
void show_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The i-th newest line (0 = newest), or nullptr when there is none.
const char* message_line(int age);
