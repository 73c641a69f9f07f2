#include "replay/race_replay.h"

#include "replay/bike_replay.h"

namespace {

bool encode_slot(void* context, int slot, StateRecord* record) {
  RaceReplay* rr = static_cast<RaceReplay*>(context);
  const Bike* bike = rr->race ? rr->race->bikes[slot] : nullptr;
  if (!bike) return false;
  *record = encode_bike(*bike, rr->scale, nullptr);
  return true;
}

void history_step(void* context, Race* race) {
  RaceReplay* rr = static_cast<RaceReplay*>(context);
  rr->race = race;
  sample_states(rr->histories, race->mode, race->tick, false, encode_slot, rr);
  if (demo_recording(rr->recorder)) write_demo_tick(&rr->recorder, rr->histories, race->tick, false);
}

void close_demos(void* context) {
  RaceReplay* rr = static_cast<RaceReplay*>(context);
  if (demo_recording(rr->recorder)) stop_recording(&rr->recorder, rr->histories, rr->race ? rr->race->tick : 0);
  clear_all_histories(rr->histories);
}

}  // namespace

void install_race_replay(RaceReplaySeams* seams, RaceReplay* replay) {
  seams->context = replay;
  seams->history_step = history_step;
  seams->close_demos = close_demos;
}
