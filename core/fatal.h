// Fatal stops and the seam through which the headless core reaches the
// platform's message box and device shutdown.
#pragma once

struct FatalHooks {
  // Shows a modal message box; the default writes to standard error.
  void (*message_box)(const char* title, const char* text);
  // Closes the audio device and the window before the process ends.
  void (*close_devices)();
};

extern FatalHooks g_fatal_hooks;

// "Error" / "Out of virtual memory", exit code 1. Installed as the new handler.
[[noreturn]] void fatal_out_of_memory();
void install_out_of_memory_handler();
// Shows a message box through the hooks (and always on standard error).
void show_message_box(const char* title, const char* text);
