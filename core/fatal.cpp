#include "core/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/log.h"

FatalHooks g_fatal_hooks = {nullptr, nullptr};

void show_message_box(const char* title, const char* text) {
  fprintf(stderr, "%s: %s%s", title, text, (text[0] && text[strlen(text) - 1] == '\n') ? "" : "\n");
  if (g_fatal_hooks.message_box) g_fatal_hooks.message_box(title, text);
}

void fatal_out_of_memory() {
  if (g_fatal_hooks.close_devices) g_fatal_hooks.close_devices();
  show_message_box("Error", "Out of virtual memory");
  log_printf("Out of virtual memory\n");
  exit(1);
}

void install_out_of_memory_handler() {
  std::set_new_handler([] { fatal_out_of_memory(); });
}
