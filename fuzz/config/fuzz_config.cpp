// Fuzzes the configuration reader with arbitrary file contents. Besides
// memory safety it checks what the reader promises: every number within its
// range, every text terminated within its buffer, and a file written from
// whatever was read reads back to the same file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/datafile.h"
#include "core/message.h"

namespace {

// Defaults, with the bike graphics list of the default bike, as start-up
// has them before it reads the file.
void start_fresh() {
  reset_config();
  setting_changed(*find_setting("bike", nullptr));
}

void read_bytes(const void* bytes, size_t size) {
  DataStream* stream = data_open_memory(bytes, size);
  if (!stream) abort();
  read_config_stream(stream);
  data_close(stream);
}

void check_records() {
  for (std::span<const SettingRow> table : {config_rows(), bike_setup_rows()}) {
    for (const SettingRow& row : table) {
      for (int i = 0; i < row.count; i++) {
        if (row.kind == SettingKind::number &&
            !(row.number[i] >= row.minimum && row.number[i] <= row.maximum)) {
          fprintf(stderr, "%s out of range\n", row.key);
          abort();
        }
        if (row.kind == SettingKind::real &&
            !(row.real[i] >= row.minimum && row.real[i] <= row.maximum)) {
          abort();
        }
        if (row.kind == SettingKind::text &&
            strnlen(row.text + i * (row.max_length + 1), row.max_length + 1) >
                static_cast<size_t>(row.max_length)) {
          abort();
        }
      }
    }
  }
}

bool g_ready = false;

void set_up() {
  set_choice_values(ChoiceListId::bike_models, {"450sxf(2016)", "crf250(2008)", "yz250f(2008)"});
  set_choice_values(ChoiceListId::rider_textures, {"red", "blue"});
  // Head textures stay empty, so that names kept for empty lists are fuzzed too.
  set_choice_values(ChoiceListId::wheel_textures, {"black"});
  set_choice_values(ChoiceListId::video_modes, {"Default Fullscreen", "Windowed", "800x600"});
  g_bike_graphics_provider = [](const char* bike) {
    if (bike[0] == 'y') {
      set_choice_values(ChoiceListId::bike_textures, {});
    } else {
      set_choice_values(ChoiceListId::bike_textures, {"stock", "team"});
    }
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!g_ready) {
    set_up();
    g_ready = true;
  }
  start_fresh();
  read_bytes(data, size);
  check_records();

  std::string first = config_text();
  // An empty binding is not written, so the file gives it its default back;
  // that is the one thing a round trip may change.
  for (Binding& binding : g_config.bindings) {
    if (binding_is_empty(binding)) {
      const SettingRow* row = nullptr;
      for (const SettingRow& r : config_rows()) row = r.binding == &binding ? &r : row;
      binding.key_name = row->default_text;
    }
  }
  std::string expected = config_text();
  start_fresh();
  read_bytes(first.data(), first.size());
  check_records();
  std::string second = config_text();
  if (second != expected) {
    fprintf(stderr, "round trip changed the file:\n--- first\n%s\n--- second\n%s\n",
            expected.c_str(), second.c_str());
    abort();
  }
  // The visible-line count must stay usable whatever the file says.
  show_message("x");
  if (g_messages.visible < 0 || g_messages.visible > MESSAGE_RING_LINES) abort();
  return 0;
}
