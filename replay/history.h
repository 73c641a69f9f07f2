// The state history: per bike slot, a ring of the last 128 time-stamped
// state records. The simulation samples the local and robot bikes into it
// every fourth tick, the demo reader and the network client feed the
// history-driven slots, the demo writer saves what is new, and replay picks
// or interpolates the record that poses a history-driven bike at a tick.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "replay/state_record.h"

constexpr int HISTORY_ENTRIES = 128;
// How far past its newest record a bike is carried on (half a second).
constexpr int EXTRAPOLATION_LIMIT = 64;
// Simulated bikes are sampled on ticks that are multiples of this.
constexpr int SAMPLE_INTERVAL = 4;
// A history-driven bike with no entry this close to the tick is not drawn.
constexpr int VISIBILITY_TICKS = 128;

// Slot modes.
constexpr int SLOT_MODE_EMPTY = -1;   // no bike
constexpr int SLOT_MODE_PLAYER = 0;   // the local player's bike, simulated here
constexpr int SLOT_MODE_HISTORY = 1;  // posed from its history (demo or remote rider)
constexpr int SLOT_MODE_ROBOT = 2;    // robot rider, simulated here
// Any other value: present but not taking part (neither sampled nor recorded).

struct StateHistory {
  int32_t head;                          // index of the newest entry
  int32_t stamp[HISTORY_ENTRIES];        // tick of each entry; -1 = empty
  StateRecord record[HISTORY_ENTRIES];
  int32_t unsaved;                       // entries the demo writer has not saved yet
};

// The game's histories, one per slot; fixed, never reallocated.
extern StateHistory g_histories[MAX_BIKES];

void clear_history(StateHistory* history);
void clear_all_histories(StateHistory histories[MAX_BIKES]);

// Inserts a record stamped with a tick: the first record stored for a tick
// wins, and a record older than the newest entry discards every newer one.
// Negative ticks are not stored (-1 marks an empty entry).
void add_state(StateHistory* history, const StateRecord& record, int tick);
// Into the slot's history; a slot outside 0..159 shows
// "add_state_to_history: slot out of range" and drops the record.
void add_state_to_slot(StateHistory histories[MAX_BIKES], int slot, const StateRecord& record, int tick);
// The same on g_histories.
void add_state_to_history(int slot, const StateRecord& record, int tick);

// What replay hands the physics for a tick.
struct ReplayChoice {
  StateRecord record;  // the record to pose from (picked or interpolated)
  StateRecord before;  // the bracketing records the velocities come from
  StateRecord after;
  int span;            // ticks from before to after (at least 1)
};
// False when the history is empty (the bike is left as it is). version is
// the playing demo's (4 disables interpolation), or 5 with none playing.
bool choose_replay_record(const StateHistory& history, int tick, int version, ReplayChoice* choice);

// True when some entry lies within VISIBILITY_TICKS of the tick, either side.
bool history_visible(const StateHistory& history, int tick);

// Number of stored (non-empty) entries.
int history_size(const StateHistory& history);

// The unsaved entries, oldest first, at most HISTORY_ENTRIES; returns the count
// and resets the unsaved count. Either output may be null to only count.
int take_unsaved(StateHistory* history, int32_t* stamps, StateRecord* records);
int unsaved_count(const StateHistory& history);

// Sampling: on ticks that are multiples of SAMPLE_INTERVAL, or when forced,
// every slot in mode 0 or 2 is encoded and added with the tick as stamp.
// encode returns false when the slot has no bike after all.
using EncodeSlot = bool (*)(void* context, int slot, StateRecord* record);
void sample_states(StateHistory histories[MAX_BIKES], const int mode[MAX_BIKES], int tick, bool forced,
                   EncodeSlot encode, void* context);
