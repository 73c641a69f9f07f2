#include "replay/history.h"

#include <cstring>

#include "core/message.h"

StateHistory g_histories[MAX_BIKES];

namespace {

int previous_entry(int i) { return (i + HISTORY_ENTRIES - 1) % HISTORY_ENTRIES; }
int next_entry(int i) { return (i + 1) % HISTORY_ENTRIES; }

// Histories start cleared even before the first race clears them.
struct ClearAtStart {
  ClearAtStart() { clear_all_histories(g_histories); }
} g_clear_at_start;

}  // namespace

void clear_history(StateHistory* h) {
  h->head = 0;
  h->unsaved = 0;
  for (int i = 0; i < HISTORY_ENTRIES; i++) h->stamp[i] = -1;
  memset(h->record, 0, sizeof h->record);
}

void clear_all_histories(StateHistory histories[MAX_BIKES]) {
  for (int slot = 0; slot < MAX_BIKES; slot++) clear_history(&histories[slot]);
}

void add_state(StateHistory* h, const StateRecord& record, int tick) {
  if (tick < 0) return;
  int i = h->head;
  int newer = 0;
  while (newer < HISTORY_ENTRIES && h->stamp[i] > tick) {
    i = previous_entry(i);
    newer++;
  }
  if (h->stamp[i] == tick) return;  // the first record stored for a tick wins
  for (int k = 0, j = h->head; k < newer; k++, j = previous_entry(j)) h->stamp[j] = -1;
  int slot = next_entry(i);
  h->record[slot] = record;
  h->stamp[slot] = tick;
  h->head = slot;
  // Discarded entries that were still unsaved are no longer there to save;
  // counting them would make the writer save older, already saved entries
  // a second time.
  int kept = h->unsaved - (newer < h->unsaved ? newer : h->unsaved);
  h->unsaved = kept + 1 > HISTORY_ENTRIES ? HISTORY_ENTRIES : kept + 1;
}

void add_state_to_slot(StateHistory histories[MAX_BIKES], int slot, const StateRecord& record, int tick) {
  if (slot < 0 || slot >= MAX_BIKES) {
    show_message("add_state_to_history: slot out of range");
    return;
  }
  add_state(&histories[slot], record, tick);
}

void add_state_to_history(int slot, const StateRecord& record, int tick) {
  add_state_to_slot(g_histories, slot, record, tick);
}

bool choose_replay_record(const StateHistory& h, int tick, int version, ReplayChoice* choice) {
  const int t = tick > 0 ? tick : 0;
  int c = h.head;
  int steps = 0;
  while (steps < HISTORY_ENTRIES && h.stamp[c] >= t) {
    c = previous_entry(c);
    steps++;
  }
  int before, after;
  if (steps == 0) {
    // t is later than the newest entry.
    if (h.stamp[h.head] < 0) return false;
    after = h.head;
    before = previous_entry(h.head);
    if (h.stamp[before] < 0) before = h.head;
  } else if (steps == HISTORY_ENTRIES || h.stamp[c] < 0) {
    // Every entry held is at or after t: start from the oldest.
    before = next_entry(c);
    after = steps == 1 ? before : next_entry(before);
  } else {
    before = c;
    after = next_entry(c);
  }
  const int s0 = h.stamp[before], s1 = h.stamp[after];
  choice->before = h.record[before];
  choice->after = h.record[after];
  if (s0 >= t || s0 == s1) {
    choice->record = h.record[before];
    // Velocities still come from the two records' real distance apart.
    choice->span = s1 > s0 ? s1 - s0 : 1;
  } else if (s1 == t) {
    choice->record = h.record[after];
    choice->span = s1 - s0;
  } else {
    int target = t < s1 + EXTRAPOLATION_LIMIT ? t : s1 + EXTRAPOLATION_LIMIT;
    double f = (double)(target - s0) / (double)(s1 - s0);
    choice->record = interpolate_records(h.record[before], h.record[after], f, version);
    choice->span = s1 - s0;
  }
  return true;
}

bool history_visible(const StateHistory& h, int tick) {
  for (int i = 0; i < HISTORY_ENTRIES; i++) {
    if (h.stamp[i] < 0) continue;
    long d = (long)h.stamp[i] - tick;
    if (d >= -VISIBILITY_TICKS && d <= VISIBILITY_TICKS) return true;
  }
  return false;
}

int history_size(const StateHistory& h) {
  int n = 0;
  for (int i = 0; i < HISTORY_ENTRIES; i++) n += h.stamp[i] >= 0;
  return n;
}

int unsaved_count(const StateHistory& h) {
  int want = h.unsaved < 0 ? 0 : (h.unsaved > HISTORY_ENTRIES ? HISTORY_ENTRIES : h.unsaved);
  int n = 0;
  for (int i = h.head; n < want && h.stamp[i] >= 0; i = previous_entry(i)) n++;
  return n;
}

int take_unsaved(StateHistory* h, int32_t* stamps, StateRecord* records) {
  int n = unsaved_count(*h);
  int i = h->head;
  for (int k = n - 1; k >= 0; k--, i = previous_entry(i)) {
    if (stamps) stamps[k] = h->stamp[i];
    if (records) records[k] = h->record[i];
  }
  h->unsaved = 0;
  return n;
}

void sample_states(StateHistory histories[MAX_BIKES], const int mode[MAX_BIKES], int tick, bool forced,
                   EncodeSlot encode, void* context) {
  if (!forced && tick % SAMPLE_INTERVAL != 0) return;
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    if (mode[slot] != SLOT_MODE_PLAYER && mode[slot] != SLOT_MODE_ROBOT) continue;
    StateRecord record;
    if (encode(context, slot, &record)) add_state(&histories[slot], record, tick);
  }
}
