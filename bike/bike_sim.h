// The bike's share of one simulation tick, as the race step calls it, and
// the application of a rider's control vector to a bike.
//
// Order of one tick (all bikes; slots in increasing order unless said):
//   1. Every occupied slot: record the bike's state into the history (replay).
//   2. Every bike not driven by recorded data: bike_contact_step().
//   3. collide_bikes(): pairs of racing bikes in slot order, each pair once.
//   4. Every occupied slot, in the order wheel_terrain_order() gives for
//      the tick: the wheel-terrain effects, erosion_step() (bike/ruts.h),
//      while the erosion setting is above 0.
//   5. step_bike_world(): one world step of 1/128 s, then the contact group
//      is emptied.
//   6. Every occupied slot: emit_roost(); the controller (a robot, the
//      player through apply_control_vector(), or recorded data);
//      bike_force_update(), whose forces and contacts act in the next world
//      step; the timing-gate step.
//   Once per tick after that: advance_roost() moves the thrown dirt.
#pragma once

#include <cstdint>

#include "core/setup_choices.h"
#include "core/types.h"

struct Bike;
struct Terrain;

// 2. Part shapes against the terrain (soft contacts for the next step).
void bike_contact_step(Bike* bike, const Terrain& terrain);

// 3. Bike-to-bike contacts. Racing bikes are the enabled ones whose rider is
// not in a crash; slots without a bike are null.
void collide_bikes(Bike* const bikes[MAX_BIKES]);

// 6. The force update of one bike: ground contacts of both wheels, the joint
// force correction, suspension, engine and drivetrain, rider and aids.
void bike_force_update(Bike* bike, const Terrain& terrain, int64_t tick);

// The control vector, rebuilt from zero every tick by the input code.
enum ControlIndex {
  CONTROL_STEER,
  CONTROL_THROTTLE,
  CONTROL_FRONT_BRAKE,
  CONTROL_REAR_BRAKE,
  CONTROL_SHIFT,
  CONTROL_CLUTCH,
  CONTROL_SIT,
  CONTROL_BACK_UP,
  CONTROL_LEAN,
  CONTROL_COUNT
};

// Hands the player's control vector to the bike, in the order steer, front
// brake, rear brake, throttle, sit/dab, back up, lean, clutch, shift.
// Ignored while the rider is in a crash.
void apply_control_vector(Bike* bike, const float control[CONTROL_COUNT], const ControlOptions& options);

// Tools and tests: steps 2, 3, 5 and 6 (roost and force update) for every
// bike, without history or deformation. The caller applies the controllers
// just before the call: inputs only act in the force update, so that is the
// same as applying them in step 6.
void run_bike_tick(Bike* const bikes[MAX_BIKES], const Terrain& terrain, int64_t tick);
// The same with step 4, one erosion pass per bike at the erosion setting
// (0..100; 0 leaves the terrain alone).
void run_bike_tick(Bike* const bikes[MAX_BIKES], Terrain* terrain, int64_t tick, float erosion);
