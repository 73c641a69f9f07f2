// The loaded track: terrain, lighting, objects and timing data of one track
// directory, loaded in a fixed order behind the loading screen, with the
// digest by which two installations tell that they hold the same track.
#pragma once

#include <cstdint>
#include <string>

#include "track/lighting.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/timing_gates.h"

struct Texture;

struct TrackLoadSettings {
  int ground_method;   // GroundMethod, from the "Terrain Rendering Method" setting
  bool shader_path;    // shader programs active and a "Shaders/..." method chosen
  int debug_level;     // 0, 1 ("--debug") or 2 ("--super-debug")
};

// The ground method of a "Terrain Rendering Method" choice: "Software",
// "Hardware/Copy", "Hardware/Direct", "Shaders/Copy", "Shaders/Direct" (0..4).
inline int ground_method_for_choice(int choice) {
  static const int methods[5] = {GROUND_SOFTWARE, GROUND_COPY, GROUND_DIRECT, GROUND_COPY, GROUND_DIRECT};
  return choice >= 0 && choice < 5 ? methods[choice] : GROUND_DIRECT;
}
// True for the two "Shaders/..." choices.
inline bool shader_choice(int choice) { return choice == 3 || choice == 4; }

struct LoadedTrack {
  std::string name;  // the track directory under the data files; empty when none is loaded
  int list_entry;    // the name's entry in the track list, -1 when not listed
  Texture* map_texture;
  uint8_t digest[20];
  Terrain terrain;
  TrackLighting lighting;
  TrackObjects objects;
  TimingGates gates;
};

extern LoadedTrack g_track;

// The track list of start-up, when it exists: the entry of a track name or
// -1. Null until start-up installs it.
extern int (*g_find_track_entry)(const char* name);

// Loads the track whose name is in track->name. On failure the name is
// cleared, everything made so far is freed and false is returned.
bool load_track(LoadedTrack* track, const TrackLoadSettings& settings);
// Frees everything load_track made.
void deallocate_track(LoadedTrack* track);

// True when `name` must be (re)loaded: nothing loaded, another name (exact
// comparison) or a forced reload.
bool track_needs_load(const LoadedTrack& track, const std::string& name, bool force);
// The race reset's track step: when needed, deallocates the old track,
// resets the texture-memory counter and loads `name`. True when the track
// `name` is loaded afterwards.
bool reload_track(LoadedTrack* track, const std::string& name, bool force, const TrackLoadSettings& settings);

// Feeds a data file's whole content into a running track digest; nothing
// when the file does not exist.
struct ripemd160_ctx;
void digest_track_file(ripemd160_ctx* digest, const char* name);
