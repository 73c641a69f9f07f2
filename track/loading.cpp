// Loading-screen messages and stage progress.
#include "track/loading.h"

#include <cstdio>
#include <cstring>

#include "platform/log.h"

namespace {

// The stage title that begin_loading_stage has just logged: the headless
// screen skips it so that the log holds each title once.
const char* g_title_just_logged = nullptr;

void log_loading_screen(const char* text) {
  if (g_title_just_logged && strcmp(text, g_title_just_logged) == 0) return;
  log_printf("%s\n", text);
}

bool g_have_previous = false;
double g_previous_time = 0.0;
char g_on_screen[80];
double g_longest_gap = 0.0;
char g_longest_gap_text[80];

constexpr double REFRESH_SECONDS = 0.125;

}  // namespace

void (*g_draw_loading_screen)(const char* text) = log_loading_screen;

void show_loading_message(const char* text) {
  double now = platform_elapsed_seconds();
  if (g_have_previous) {
    double gap = now - g_previous_time;
    if (gap > g_longest_gap) {
      g_longest_gap = gap;
      memcpy(g_longest_gap_text, g_on_screen, sizeof g_longest_gap_text);
    }
  }
  g_have_previous = true;
  g_previous_time = now;
  snprintf(g_on_screen, sizeof g_on_screen, "%.79s", text);
  if (g_draw_loading_screen) g_draw_loading_screen(text);
}

void reset_loading_gaps() {
  g_have_previous = false;
  g_longest_gap = 0.0;
  g_longest_gap_text[0] = '\0';
  g_on_screen[0] = '\0';
}

double longest_loading_gap() { return g_longest_gap; }
const char* longest_loading_gap_text() { return g_longest_gap_text; }

void log_longest_loading_gap() {
  log_printf("Max loading delay was %f (%s)\n", g_longest_gap, g_longest_gap_text);
}

void begin_loading_stage(LoadingStage* stage, const char* title) {
  stage->title = title;
  stage->dots = 0;
  log_printf("%s\n", title);
  g_title_just_logged = title;
  show_loading_message(title);
  g_title_just_logged = nullptr;
  // The title itself counts as the first refresh, so a stage that ends
  // within one refresh period shows only its title and its done form.
  stage->last_refresh = platform_elapsed_seconds();
}

void tick_loading_stage(LoadingStage* stage) {
  double now = platform_elapsed_seconds();
  if (now - stage->last_refresh <= REFRESH_SECONDS) return;
  static const char* const suffixes[4] = {"", ".", "..", "..."};
  stage->dots = (stage->dots + 1) & 3;
  stage->last_refresh = now;
  char text[80];
  snprintf(text, sizeof text, "%.64s%s", stage->title, suffixes[stage->dots]);
  show_loading_message(text);
}

void end_loading_stage(LoadingStage* stage) {
  char text[80];
  snprintf(text, sizeof text, "%.64s...done", stage->title);
  show_loading_message(text);
}
