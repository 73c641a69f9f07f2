// A demo file of any version from memory: the header, then read-ahead over
// a moving clock with rewinds and skips through the chunk links, as a
// playback would run it. The first byte picks practice or playback and how
// many riders get slots; the file follows.
#include <cstddef>
#include <cstdint>

#include "core/datafile.h"
#include "replay/demo.h"

namespace {

void check_histories() {
  for (const StateHistory& h : g_histories) {
    if (h.head < 0 || h.head >= HISTORY_ENTRIES || h.unsaved < 0 || h.unsaved > HISTORY_ENTRIES) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    set_search_directories({"/nonexistent/dv-fuzz"});
    ready = true;
  }
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  DemoPlayer player;
  clear_all_histories(g_histories);
  if (!open_demo_stream(&player, data_open_memory(data + 1, size - 1), "", flags & 1)) return 0;
  if (player.version < 4 || player.version > 6 || player.rider_count < 0 || player.rider_count > MAX_BIKES) {
    __builtin_trap();
  }
  const int mapped = (flags >> 1) % 8;
  for (int i = 0; i < player.rider_count && i < mapped; i++) set_demo_rider_slot(&player, i, (i * 37) % MAX_BIKES, nullptr);
  int current = 0;
  for (int step = 0; step < 400 && !player.ended; step++) {
    read_demo_ahead(&player, g_histories, &current);
    current += 4;
    if (step % 97 == 96) {
      int target = current - 200 < 0 ? 0 : current - 200;
      clear_all_histories(g_histories);
      reposition_demo(&player, target);
      current = target;
    }
  }
  check_histories();
  // Walk back from wherever the reader stopped.
  reposition_demo(&player, 0);
  if (player.next_position < player.data_start) __builtin_trap();
  close_demo(&player);
  return 0;
}
