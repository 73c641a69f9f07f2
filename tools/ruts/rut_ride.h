// Rut rides: a field of bikes lapping a course with deformation on, and
// what it did to the ground. Each bike follows the course line with its own
// path follower; the run keeps the heights from before, a mask of every
// vertex a wheel could have moved (the contacts' neighbourhoods, as wide as
// the largest tile brush plus its pile distance), lap times and the state
// of every bike, so a caller can check that the field changed where the
// wheels ran and nowhere else. Shared by the rut_run tool and the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bike/proving_ground.h"
#include "core/types.h"
#include "track/deform.h"

struct Bike;
struct Terrain;

struct RutRideOptions {
  int bikes = 20;
  int laps = 10;            // every bike rides at least this many
  float erosion = 100;      // the "--erode" setting
  double base_speed = 30;   // mph; bike i aims for base + 2 (i mod 5)
  float lane_width = 12;    // ft: riders spread over lanes this wide in all
  double max_seconds = 0;   // stop after this much riding; 0 = 120 s per lap
};

struct RutRideResult {
  int64_t ticks = 0;
  bool finished = false;       // every bike completed its laps
  bool all_finite = true;      // no bike body and no height ever went NaN
  int crashes = 0;             // sum over bikes
  int min_laps = 0;            // fewest laps any bike completed
  std::vector<double> lap_seconds;  // every completed lap of every bike
  std::vector<int> lap_number;      // 1 for a bike's first lap, and so on
  std::vector<int> laps;            // per bike
  std::vector<int> crashes_per_bike;
  std::vector<Vec3> final_position; // per bike, frame
  double wall_seconds = 0;

  std::vector<float> before;          // heights before the ride
  std::vector<uint8_t> wheel_mask;    // 1 where a wheel could have moved the ground
  int changed = 0;                    // vertices whose height changed
  int changed_off_track = 0;          // ... outside the wheel mask
  float deepest_dig = 0;              // most negative change (<= 0)
  float highest_pile = 0;             // most positive change (>= 0)
  double net_volume = 0;              // sum of changes x cell area
  double moved_volume = 0;            // sum of removed soil x cell area
  int64_t modifications = 0;          // terrain modification count afterwards
};

// The ground record of any ride (this one's, a race's): the heights from
// before, sized masks, then every wheel contact marked as it happens, and
// the summary of the changes at the end (fills the height figures of the
// result; the riding figures are the caller's).
void begin_rut_record(const Terrain& terrain, RutRideResult* record);
void mark_wheel_contacts(const Terrain& terrain, const Bike& bike, RutRideResult* record);
void finish_rut_record(const Terrain& terrain, RutRideResult* record);

// Rides the course laid in `terrain` (its line: the proving ground's) and
// fills the result. The terrain is deformed in place.
void ride_ruts(Terrain* terrain, const RutRideOptions& options, RutRideResult* result);

// A picture of what changed: grey where nothing did, shaded by the old
// ground; dug vertices red, piled ones green (full colour at `full_scale`
// feet of change); the wheel mask faintly blue; changes outside the mask
// white. One pixel per vertex (`zoom` pixels a side with a zoom), RGB rows
// from row 0, over the vertices of `crop` (the whole field when empty).
// Written as PNG.
bool write_rut_image(const char* path, const Terrain& terrain, const RutRideResult& result, float full_scale,
                     TerrainRegion crop = EMPTY_REGION, int zoom = 1);
// Heights before and after along the grid column nearest x, rows from z0
// to z1, one line per vertex: "x z before after".
void print_rut_profile(FILE* out, const Terrain& terrain, const RutRideResult& result, float x, float z0, float z1);
