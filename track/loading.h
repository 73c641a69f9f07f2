// Loading-screen progress: the stage titles with their dot animation and
// "...done" forms, the seam through which the renderer draws the loading
// screen, and the longest gap between two screen updates.
#pragma once

// Draws the loading screen with the text and swaps the display. The renderer
// installs its own; the headless default writes the text to the log.
extern void (*g_draw_loading_screen)(const char* text);

// Shows the text on the loading screen and measures the time since the
// previous text; the longest gap and the text shown during it are kept.
void show_loading_message(const char* text);

// Forgets the longest gap (the race reset calls this before loading).
void reset_loading_gaps();
double longest_loading_gap();
// The text that was on screen during the longest gap, cut to 79 characters.
const char* longest_loading_gap_text();
// "Max loading delay was %f (%s)\n".
void log_longest_loading_gap();

// One stage of a load: "Scanning", "Loading heights", ...
struct LoadingStage {
  const char* title;
  double last_refresh;  // platform clock of the last screen update
  int dots;             // dots shown after the title at the last refresh, 0..3
};

// Shows the title and logs it.
void begin_loading_stage(LoadingStage* stage, const char* title);
// Called at least once per unit of work: refreshes the dots every 0.125 s.
void tick_loading_stage(LoadingStage* stage);
// Shows the title's "...done" form.
void end_loading_stage(LoadingStage* stage);
