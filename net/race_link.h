// Where the network client meets the race: the race's net seams (online,
// the server's track and gate-drop tick, warmup without contacts, the
// riders of lineup code 5 from the server's tables) and the client's hooks
// onto the race (the online race reset with the server's lineup, the race
// clock, the riding bike's record and timing for the server, the timing
// entries and states of the other riders, finishing settled from every
// entry's tick, the arcade switch).
#pragma once

#include "net/client.h"

struct Race;

struct RaceLink {
  NetClient* client = nullptr;
  Race* race = nullptr;
  // Each online reset takes the player, the recording switch and the skill
  // from the configuration (the game's race).
  bool configured_player = false;
  bool record = false;             // record a demo of each online race
  int skill = 0;
  void* owner = nullptr;           // for the owner's own hooks (the print hook's context is the link)
};

// Fills client->hooks (keeping a print hook already set) and race->seams.net.
// The link must outlive both.
void link_client_to_race(RaceLink* link);

// What the race set-up puts in a slot for a slot request of the client.
int lineup_code_for_request(int request);
// "no_arcade": arcade physics off for every bike of the race under local
// control and for the bikes made until the switch is put back; true when
// some bike had it on.
bool switch_off_arcade(Race* race);
// A new connection: arcade physics as the setup has it again.
void restore_arcade();

