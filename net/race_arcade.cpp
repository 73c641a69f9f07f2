// The arcade switch lives with the bike setup, whose header cannot meet the
// configuration's in one file.
#include "bike/bike.h"
#include "bike/bike_setup.h"
#include "net/race_link.h"
#include "race/race.h"

bool switch_off_arcade(Race* r) {
  g_arcade_disabled = true;
  bool any = false;
  for (int s = 0; s < MAX_BIKES; s++) {
    if (!r->bikes[s] || r->mode[s] != RACE_SLOT_LOCAL) continue;
    any = any || r->bikes[s]->tuning.arcade != 0;
    r->bikes[s]->tuning.arcade = 0;
  }
  return any;
}

void restore_arcade() { g_arcade_disabled = false; }
