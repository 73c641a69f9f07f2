// The game's one network client and its place in the shell: the net section
// of the hook table (state for the frame timing and the loop, the step
// before each race step, the disconnect at shutdown), the client info taken
// from the player's setup, the command-line options ("--connect",
// "--password", "--fake-lag", "--fake-loss") and off-course hiding of remote
// riders for the renderer.
//
// What the client needs of the race (set-up, tick, the bike's record and
// timing, remote histories) is handed in by the race flow as NetClientHooks.
#pragma once

#include "net/client.h"
#include "race/timing.h"

extern NetClient g_net_client;

// The game's network: g_net_client linked to g_race (net/race_link.h) and
// installed; the game's start-up stages call it after the race hooks.
void install_game_network();
// Hooks the client to the race, applies the run options and fills
// g_game_hooks.net (state, connect, console line, ping, step, disconnect).
// The run options ("--connect", "--password", "--fake-lag", "--fake-loss",
// the fixed-file check) are taken again at the first step, once start-up
// has them.
// Without a console_text hook of the race's, server console lines go into
// the demo being recorded as text chunks.
void install_net_client(const NetClientHooks& race_side);
// The player's name, number, bike and skins from the configuration's setup;
// marks the client info changed when they differ from what was sent.
void refresh_client_info(NetClient* client);

// The shell's view (core/game_hooks.h NetState) of a client; the local tick
// comes from the client's current_tick hook.
struct NetState;
void fill_net_state(const NetClient& client, NetState* out);

// True when the rider's last three completed gate-to-gate stretches include
// one slower than the first rider's time for the same stretch x scale +
// bias seconds.
bool off_course(const BikeTiming& rider, const BikeTiming& first, double scale, double bias);
// Whether a remote rider is hidden at real time `now`: no state for a
// second, or, once the race has run off-course-bias seconds past the gate
// drop, off course (unless our own bike is off course by the same test).
bool remote_rider_hidden(const NetClient& client, int slot, double now, int tick, const BikeTiming& rider,
                         const BikeTiming& first, const BikeTiming* own);
