#include "core/message.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/log.h"

MessageLines g_messages = {{}, -1, 0, 0, 0.0};
double g_game_clock = 0.0;
int g_message_line_limit = 5;

void clear_message_lines() {
  memset(g_messages.text, 0, sizeof g_messages.text);
  g_messages.newest = -1;
  g_messages.total = 0;
  g_messages.visible = 0;
  g_messages.hide_time = 0.0;
}

void show_message(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);

  // One log line per message: a colour reset goes before the line break, so
  // it ends this line's colours instead of starting the next log line.
  std::string logged = text;
  bool had_newline = !logged.empty() && logged.back() == '\n';
  if (had_newline) logged.pop_back();
  if (strchr(text, '\033')) logged += "\033[0m";
  logged += '\n';
  log_printf("%s", logged.c_str());

  int slot = (g_messages.newest + 1) % MESSAGE_RING_LINES;
  char* line = g_messages.text[slot];
  size_t length = strnlen(text, MESSAGE_LINE_CHARS - 1);
  memcpy(line, text, length);
  line[length] = '\0';
  g_messages.newest = slot;
  if (g_messages.total < MESSAGE_RING_LINES) g_messages.total++;

  // "message_lines" is not limited in the file; the ring is.
  int limit = g_message_line_limit;
  if (limit > MESSAGE_RING_LINES) limit = MESSAGE_RING_LINES;
  if (limit < 0) limit = 0;
  if (g_messages.visible < limit) g_messages.visible++;
  if (g_messages.visible > limit) g_messages.visible = limit;
  g_messages.hide_time = g_game_clock + 2.0;
}

const char* message_line(int age) {
  if (age < 0 || age >= g_messages.total) return nullptr;
  int slot = (g_messages.newest - age + MESSAGE_RING_LINES) % MESSAGE_RING_LINES;
  return g_messages.text[slot];
}
